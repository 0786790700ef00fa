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

} // namespace kestrune::bench
