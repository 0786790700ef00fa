// A machine's floating-point settings, which the guard and the library loader keep apart from
// the caller's (guard_win32.cpp; natively nothing is kept).
#pragma once

namespace kestrune::platform {

// A machine's floating-point settings: what it has set for itself and finds in force again at
// each call. On 32-bit Windows the x87 control word and MXCSR's control bits (its exception
// flags are left out: they are sticky results, not settings); natively nothing is kept.
struct fp_settings {
    unsigned short x87_control; // rounding, precision and exception masks of the x87
    unsigned short reserved;    // zero
    unsigned mxcsr;             // SSE rounding, exception masks, FTZ and DAZ; flag bits zero
};
static_assert(sizeof(fp_settings) == 8, "two 32-bit words");

// The settings in force on this thread now.
fp_settings current_fp_settings();

} // namespace kestrune::platform
