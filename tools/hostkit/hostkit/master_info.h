// The host's song timing, as it hands it to each instance.
#pragma once

#include "host/host_interface.h"

namespace hostkit {

// Timing for a tempo, ticks per beat and sample rate; samples per tick follow from them
// (125 bpm, 4 ticks per beat at 44100 Hz give 5292).
kestrune::host_master_info make_master_info(int beats_per_minute = 125, int ticks_per_beat = 4,
                                            int samples_per_second = 44100);

} // namespace hostkit
