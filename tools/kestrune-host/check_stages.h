// The checks of one machine, each a plain function on its description. Each starts the
// instances it needs, and answers its row; when a machine faulted on the way, it leaves the
// Faulted line ("render_block (access violation)") in fault, and the row says so.
#pragma once

#include <string>

#include "check_result.h"
#include "host/host_interface.h"

namespace kestrune_host {

// The block sizes and sample rates that every render check goes through.
constexpr int check_blocks[] = {1, 64, 256, 1024, 8192};
constexpr int check_rates[] = {22050, 44100, 48000, 96000};

// An instance starts; file is the machine's DLL that its About box names.
check_row check_start(kestrune::host_info& info, std::string& file, std::string& fault);
// A note at every block size (an effect hears a sine): NaN or infinite samples fail, subnormal
// ones and a generator's silence warn.
check_row check_render(kestrune::host_info& info, int samples_per_second, std::string& fault);
// Every global parameter at its lowest, highest and default host value, taken and rendered,
// and its value text terminated within 128 characters.
check_row check_parameters(kestrune::host_info& info, std::string& fault);
// Store, restore into a fresh instance, store again: the same bytes under the same names.
check_row check_state(kestrune::host_info& info, std::string& fault);
check_row check_start_twice(kestrune::host_info& info, std::string& fault);
// A generator's sound stops at halt (else a warning); mute and is_muted on track 0 are called.
check_row check_mute_halt(kestrune::host_info& info, std::string& fault);
// CPU time per second of audio at 44100 Hz in blocks of 256; slower than real time warns.
check_row check_cost(kestrune::host_info& info, double& realtime_factor, std::string& fault);

} // namespace kestrune_host
