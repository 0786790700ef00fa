// Moving integers between inclusive value ranges through a single-precision fraction, the way
// Psycle machines and zzub hosts have always met: a machine declares any integer range, the
// host carries at most 16 bits. Pure functions; none of them raises anything or keeps state.
#pragma once

namespace kestrune {

// (value - lo) / (hi - lo), worked in double precision and rounded to single precision; both
// differences are exact for every input. An empty range (lo == hi) gives an infinity with the
// sign of value - lo, or NaN when both are 0, without dividing by zero.
float normalize_value(int value, int lo, int hi);

// lo + trunc((hi - lo) * fraction + 0.5), worked in double precision: rounding half up for an
// ordered range and a fraction from 0 to 1. A fraction that isn't finite gives lo. Nothing is
// clamped to the range; only a result beyond the 32-bit range saturates to INT_MIN or INT_MAX.
int denormalize_value(float fraction, int lo, int hi);

// denormalize_value(normalize_value(value, from_lo, from_hi), to_lo, to_hi).
int rescale_value(int value, int from_lo, int from_hi, int to_lo, int to_hi);

} // namespace kestrune
