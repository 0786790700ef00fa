#include "system.h"

#include <io.h>
#include <windows.h>
// After windows.h:
#include <psapi.h>

namespace kestrune_host {

double process_cpu_seconds() {
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user)) {
        return 0.0;
    }
    auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 1e-7; // 100 ns units
}

long long process_memory_bytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return 0;
    }
    return static_cast<long long>(counters.PagefileUsage);
}

bool stderr_is_terminal() {
    return _isatty(2) != 0;
}

} // namespace kestrune_host
