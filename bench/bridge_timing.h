// A render through the bridge process, for kestrune_timing, without Google Benchmark so that it
// builds for the Windows flavour too.
#pragma once

namespace kestrune::bench {

// Prints the rows, each the median of rounds rounds; false (having said why on standard error)
// when the quiet machine can't be started in a bridge.
bool print_bridge_timings(int rounds);

} // namespace kestrune::bench
