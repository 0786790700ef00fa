// Every check of one machine, in order, through Kestrune as a zzub host uses it.
#pragma once

#include <cstdint>
#include <string>

#include "check_result.h"
#include "host/host_interface.h"

namespace kestrune_host {

// Runs the checks of level and below one after another, their random values drawn from seed.
// The first fault fails the check it happened in and the "fault" row; the checks after it are
// skipped, as the faulted machine would only fault again. isolated: the machine runs in a
// bridge process, and the checks that can only run in process are skipped.
machine_check check_machine(kestrune::host_info& info, int level, std::uint64_t seed,
                            bool isolated);

// A machine asked for on the command line that wasn't announced; why says what was found.
machine_check not_announced(const std::string& wanted, const std::string& why);

} // namespace kestrune_host
