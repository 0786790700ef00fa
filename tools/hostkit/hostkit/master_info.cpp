#include "hostkit/master_info.h"

namespace hostkit {

kestrune::host_master_info make_master_info(int beats_per_minute, int ticks_per_beat,
                                            int samples_per_second) {
    kestrune::host_master_info info{};
    info.beats_per_minute = beats_per_minute;
    info.ticks_per_beat = ticks_per_beat;
    info.samples_per_second = samples_per_second;
    int ticks_per_minute = beats_per_minute * ticks_per_beat;
    info.samples_per_tick = ticks_per_minute > 0 ? samples_per_second * 60 / ticks_per_minute : 0;
    return info;
}

} // namespace hostkit
