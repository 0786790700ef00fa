// What each of the newer checks is given: the machine, the level it runs at (some checks do
// more at higher levels) and the run's one source of random values.
#pragma once

#include "check_levels.h"
#include "check_result.h"
#include "host/host_interface.h"

namespace kestrune_host {

struct check_context {
    kestrune::host_info& info;
    int level;
    random_stream& random;
};

// The row of a check whose instance didn't start.
inline check_row not_started(const char* name, std::string error) {
    return check_row{name, verdict::fail, std::move(error), {}};
}

// The checks beyond the basic ones; each answers its row and leaves a fault's Faulted line in
// fault, as the basic checks do (check_stages.h).
// Each note a generator's note parameter allows, note-offs, and each command byte, on every
// track it can use.
check_row check_notes_commands(check_context& c, std::string& fault);
// Random values for every global parameter each block with notes playing, then each swept from
// lowest to highest in steps of 32 samples: NaN or infinite samples fail, subnormal ones warn.
check_row check_parameters_playing(check_context& c, std::string& fault);
// Starts with damaged stored states: empty, a few bytes, a megabyte of random bytes and the
// machine's own state cut short, each behind a valid header. A fault fails.
check_row check_damaged_state(check_context& c, std::string& fault);
// Rates of 8000 and 192000 Hz, a rate change between two blocks, blocks of 17, 2027, 16384.
check_row check_rates_sizes(check_context& c, std::string& fault);
// Two instances given the same notes while one has its parameters moved: the other must
// render what it renders alone, bit for bit; it warns with how far the outputs differ.
check_row check_two_instances(check_context& c, std::string& fault);
// Started on this thread, rendered on another, as hosts do with their audio thread.
check_row check_threads(check_context& c, std::string& fault);
// The cost of the tail (and of subnormal input, for an effect) against that of playing: over
// twice warns, over ten times fails.
check_row check_subnormals(check_context& c, std::string& fault);
// 100 starts and releases: memory growth after the first 10 warns; cold and warm start times.
check_row check_starts_memory(check_context& c, std::string& fault);
// The machine's heap calls in take_events and render, counted through its imports: any warns,
// and fails at the highest level.
check_row check_allocations(check_context& c, std::string& fault);

} // namespace kestrune_host
