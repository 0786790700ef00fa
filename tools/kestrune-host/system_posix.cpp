#include "system.h"

#include <ctime>
#include <unistd.h>

namespace kestrune_host {

double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool stderr_is_terminal() {
    return isatty(2) != 0;
}

} // namespace kestrune_host
