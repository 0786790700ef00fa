#include "bench/ideal_kernel.h"

#include <cstdint>
#include <cstring>

namespace kestrune::bench {

namespace {

std::uint32_t bits_of(float sample) {
    std::uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits;
}

void scale_in(const float* __restrict in, float* __restrict out, int count) {
    for (int k = 0; k < count; ++k) {
        out[k] = in[k] * 32768.0f;
    }
}

std::uint32_t scale_back(float* __restrict samples, int count) {
    std::uint32_t heard = 0;
    for (int k = 0; k < count; ++k) {
        samples[k] *= 0.000030517578125f;
        heard |= bits_of(samples[k]);
    }
    return heard;
}

} // namespace

bool ideal_render(const float* __restrict in_left, const float* __restrict in_right,
                  float* __restrict out_left, float* __restrict out_right, int count) {
    for (int k = 0; k < count; ++k) {
        out_left[k] = in_left[k] * 32768.0f;
        out_right[k] = in_right[k] * 32768.0f;
    }
    // (the machine works here)
    std::uint32_t heard = 0;
    for (int k = 0; k < count; ++k) {
        out_left[k] *= 0.000030517578125f;
        out_right[k] *= 0.000030517578125f;
        heard |= bits_of(out_left[k]) | bits_of(out_right[k]);
    }
    return (heard & 0x7f800000u) != 0;
}

bool ideal_render_channels(const float* __restrict in_left, const float* __restrict in_right,
                           float* __restrict out_left, float* __restrict out_right, int count) {
    scale_in(in_left, out_left, count);
    scale_in(in_right, out_right, count);
    // (the machine works here)
    std::uint32_t heard = scale_back(out_left, count) | scale_back(out_right, count);
    return (heard & 0x7f800000u) != 0;
}

} // namespace kestrune::bench
