#include <cstdio>

#include "check_fault.h"
#include "check_player.h"
#include "check_stages.h"
#include "system.h"

namespace kestrune_host {

check_row check_cost(kestrune::host_info& info, double& realtime_factor, std::string& fault) {
    constexpr int rate = 44100;
    player p(info, rate);
    std::string error;
    if (!p.start(nullptr, error)) {
        return check_row{"cost", verdict::fail, error};
    }
    // Whole seconds of audio, a note each, until the clock has something to show (a tenth of
    // a second of CPU time) or half a minute of audio has gone by.
    double start = process_cpu_seconds();
    double used = 0.0;
    int seconds = 0;
    while (used < 0.1 && seconds < 30) {
        p.tick(check_note);
        p.render(rate, 256);
        ++seconds;
        used = process_cpu_seconds() - start;
    }
    fault = fault_of(p.plugin());
    realtime_factor = used / seconds;
    char text[96];
    std::snprintf(text, sizeof text,
                  "%.4f of real time (%.2f%% of a core), 44100 Hz, blocks of 256", realtime_factor,
                  realtime_factor * 100.0);
    if (realtime_factor >= 1.0) {
        return check_row{"cost", verdict::warn, std::string("slower than real time: ") + text};
    }
    return check_row{"cost", verdict::pass, text};
}

} // namespace kestrune_host
