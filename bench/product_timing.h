// The product's own timings for kestrune_timing, without Google Benchmark, so that they build
// for the Windows flavour: render against the ideal kernel, and take_events.
#pragma once

#include <vector>

namespace kestrune::bench {

// Prints one table row per operation, each the median of rounds rounds; false (having said
// why on standard error) when the quiet machine can't be described or started.
bool print_product_timings(int rounds);

// The median of values (the upper one of an even count); values is not empty.
double median_of(std::vector<double> values);

} // namespace kestrune::bench
