#include "check_audio.h"

#include <cmath>

namespace kestrune_host {

void count_samples(const float* samples, int count, sample_counts& counts) {
    for (int k = 0; k < count; ++k) {
        switch (std::fpclassify(samples[k])) {
        case FP_NAN:
            ++counts.nans;
            break;
        case FP_INFINITE:
            ++counts.infinities;
            break;
        case FP_SUBNORMAL:
            ++counts.subnormals;
            break;
        default: {
            float magnitude = std::fabs(samples[k]);
            counts.peak = magnitude > counts.peak ? magnitude : counts.peak;
        }
        }
    }
    counts.samples += count > 0 ? count : 0;
}

void add_counts(const sample_counts& part, sample_counts& total) {
    total.samples += part.samples;
    total.nans += part.nans;
    total.infinities += part.infinities;
    total.subnormals += part.subnormals;
    total.peak = part.peak > total.peak ? part.peak : total.peak;
}

std::string bad_sample_text(const sample_counts& counts) {
    std::string text;
    auto add = [&text](long long n, const char* what) {
        if (n > 0) {
            text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
        }
    };
    add(counts.nans, "NaN");
    add(counts.infinities, "infinite");
    add(counts.subnormals, "subnormal");
    return text;
}

} // namespace kestrune_host
