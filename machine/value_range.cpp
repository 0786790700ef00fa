// Integer ranges through a single-precision fraction. The arithmetic is plain IEEE double with
// round to nearest, as the machines and hosts that meet here have always done it; the only
// extra care is that no input is undefined behaviour and that nothing raises a floating-point
// exception that a host might have unmasked (division by zero, invalid, denormal operand).
#include "machine/value_range.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace kestrune {

namespace {

// The exponent field of a float: 0 for zero and subnormals, 0xff for infinities and NaNs.
// Read from the bits, so that classifying even a signalling NaN raises nothing.
unsigned exponent_bits(float x) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits >> 23) & 0xffu;
}

} // namespace

float normalize_value(int value, int lo, int hi) {
    // Both differences in 64 bits: exact for every input, and equal to the 32-bit ones for
    // every range whose width fits 32 bits.
    const std::int64_t n = static_cast<std::int64_t>(value) - lo;
    const std::int64_t d = static_cast<std::int64_t>(hi) - lo;
    if (d == 0) {
        // An empty range: what n / 0 would give, without dividing by zero.
        if (n > 0)
            return std::numeric_limits<float>::infinity();
        if (n < 0)
            return -std::numeric_limits<float>::infinity();
        return std::numeric_limits<float>::quiet_NaN();
    }
    // |n| and |d| stay below 2^33, so both convert exactly and the quotient neither overflows
    // nor underflows a float.
    const double q = static_cast<double>(n) / static_cast<double>(d);
    return static_cast<float>(q);
}

int denormalize_value(float fraction, int lo, int hi) {
    const unsigned exponent = exponent_bits(fraction);
    if (exponent == 0xffu)
        return lo; // an infinity or NaN: k is 0
    if (exponent == 0u)
        return lo; // zero or subnormal: |p| < 2^-94, so s rounds to 0.5 and k is 0
    const std::int64_t d = static_cast<std::int64_t>(hi) - lo;
    const double p = static_cast<double>(d) * static_cast<double>(fraction);
    const double s = p + 0.5;
    // |s| < 2^33 * 2^128: finite, and trunc of a finite double raises nothing.
    const double k = std::trunc(s);
    // lo + k, in double: exact whenever the sum fits 32 bits. A sum beyond the 32-bit range
    // saturates to INT_MIN or INT_MAX: converting such a double to int would be undefined,
    // and wrapping would turn a large value into a meaningless one of the other sign.
    const double r = static_cast<double>(lo) + k;
    if (r > 2147483647.0)
        return std::numeric_limits<int>::max();
    if (r < -2147483648.0)
        return std::numeric_limits<int>::min();
    return static_cast<int>(r);
}

int rescale_value(int value, int from_lo, int from_hi, int to_lo, int to_hi) {
    return denormalize_value(normalize_value(value, from_lo, from_hi), to_lo, to_hi);
}

} // namespace kestrune
