#include "system.h"

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace kestrune_host {

double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

long long process_memory_bytes() {
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (file == nullptr) {
        return 0;
    }
    long long total = 0;
    long long resident = 0;
    int read = std::fscanf(file, "%lld %lld", &total, &resident);
    std::fclose(file);
    return read == 2 ? resident * sysconf(_SC_PAGESIZE) : 0;
}

bool stderr_is_terminal() {
    return isatty(2) != 0;
}

} // namespace kestrune_host
