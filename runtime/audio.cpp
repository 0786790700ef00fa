#include "runtime/audio.h"

#include <cstdint>
#include <cstring>

namespace kestrune {

namespace {

std::uint32_t bits_of(float sample) {
    std::uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    return bits;
}

} // namespace

bool is_sound(float sample) {
    return (bits_of(sample) & exponent_bits) != 0;
}

void scale_to_machine(const float* in_left, const float* in_right, float* out_left,
                      float* out_right, int count) {
    for (int k = 0; k < count; ++k) {
        out_left[k] = in_left != nullptr ? in_left[k] * machine_scale : 0.0f;
        out_right[k] = in_right != nullptr ? in_right[k] * machine_scale : 0.0f;
    }
}

bool scale_to_host(float* left, float* right, int count) {
    // One pass: scale back and gather the exponent bits of every sample.
    std::uint32_t heard = 0;
    for (int k = 0; k < count; ++k) {
        left[k] *= host_scale;
        right[k] *= host_scale;
        heard |= bits_of(left[k]) | bits_of(right[k]);
    }
    return (heard & exponent_bits) != 0;
}

} // namespace kestrune
