// What "check" counts in a machine's output: samples that no machine should ever give, and
// whether anything sounded at all.
#pragma once

#include <string>

namespace kestrune_host {

struct sample_counts {
    long long samples = 0;
    long long nans = 0;
    long long infinities = 0;
    long long subnormals = 0; // legal, but slow on most processors and a sign of a missing flush
    float peak = 0.0f;        // the largest finite magnitude
};

// Adds count samples to counts.
void count_samples(const float* samples, int count, sample_counts& counts);
void add_counts(const sample_counts& part, sample_counts& total);

// Below this peak (-100 dBFS) an output counts as silent.
constexpr float silence_peak = 1e-5f;

// "12 NaN, 3 infinite, 40 subnormal"; empty when there are none of them.
std::string bad_sample_text(const sample_counts& counts);

} // namespace kestrune_host
