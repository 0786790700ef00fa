// The audio kernels of render, over plain sample arrays. A machine works at full scale 32768,
// the host at full scale 1.0; both scalings are single-precision multiplications by powers of
// two, so they are exact for every normal sample. Nothing here allocates or locks.
#pragma once

namespace kestrune {

constexpr float machine_scale = 32768.0f;        // 2^15, into the machine
constexpr float host_scale = 0.000030517578125f; // 2^-15, back to the host
constexpr unsigned exponent_bits = 0x7f800000u;  // a sample with none of these is silence

// out = in * 32768 for count samples of each channel. A null input array counts as silence.
// The arrays may be the same ones (the host may render in place).
void scale_to_machine(const float* in_left, const float* in_right, float* out_left,
                      float* out_right, int count);

// left and right *= 2^-15 in place; answers whether any sample is sound: a sample whose
// biased exponent isn't zero (every normal value, infinities and NaNs). Zeros of either sign
// and subnormal values are silence.
bool scale_to_host(float* left, float* right, int count);

// Whether one sample counts as sound.
bool is_sound(float sample);

} // namespace kestrune
