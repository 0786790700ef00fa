// The floating-point state of a thread on 32-bit Windows, which the guard and the library loader
// keep apart from what a machine or a library's load code sets. Each side keeps its own.
// Reading the state (fnstcw, stmxcsr, fnstsw) costs from a cycle or two to some 4 ns an
// instruction (stmxcsr and fnstsw on AMD's Zen 4); loading it (fldcw, ldmxcsr, fninit) costs
// more, so it is loaded only where it differs. For the platform's own Windows files only.
#pragma once

#include <cstddef>

#include "platform/floating_point.h"

namespace kestrune::platform {

// Each side keeps its own. Reading the state (fnstcw, stmxcsr, fnstsw) costs from a cycle or two
// to some 4 ns an instruction (stmxcsr and fnstsw on AMD's Zen 4); loading it (fldcw, ldmxcsr,
// fninit) costs more, so it is loaded only where it differs.
constexpr unsigned mxcsr_flags = 0x3F; // sticky exception flags: results, not settings

// The x87 status word as the caller needs it: the stack top at 0 (bits 11-13: a machine that
// left values on the stack moved it) and no unmasked exception pending (the error summary, bit
// 7). The tag word would tell more (a stack left with all eight values has its top at 0 again),
// but fnstenv, and even fxam of an empty register, cost a hundred times as much.
constexpr unsigned short x87_unbalanced = 0x3880;

// A thread's floating-point state as the guard keeps it, here and in guarded_call's frame
// (guarded_call's assembly reads the control word at offset 0 and MXCSR at offset 4).
struct fp_state {
    unsigned short x87_control;
    unsigned mxcsr; // flags included: the caller gets back exactly what it had
};
static_assert(sizeof(fp_state) == 8 && offsetof(fp_state, mxcsr) == 4, "two words of the frame");

inline fp_state read_fp_state() {
    fp_state state;
    asm volatile("fnstcw %0\n\tstmxcsr %1" : "=m"(state.x87_control), "=m"(state.mxcsr));
    return state;
}

// Whether the x87 stack is empty and no exception is pending, as far as the status word shows.
inline bool x87_clean() {
    unsigned short status;
    asm volatile("fnstsw %0" : "=a"(status));
    return (status & x87_unbalanced) == 0;
}

// The caller's state back in full: an empty x87 stack without pending exceptions, its control
// word and its MXCSR.
inline void restore_fp_state(const fp_state& state, bool reset_x87) {
    if (reset_x87) {
        asm volatile("fninit");
    }
    asm volatile("fldcw %0\n\tldmxcsr %1" : : "m"(state.x87_control), "m"(state.mxcsr));
}

// Puts the caller's state back where anything differs.
inline void keep_fp_state(const fp_state& before) {
    fp_state now = read_fp_state();
    bool clean = x87_clean();
    if (!clean || now.x87_control != before.x87_control || now.mxcsr != before.mxcsr) {
        restore_fp_state(before, !clean);
    }
}

inline fp_settings settings_of(const fp_state& state) {
    return fp_settings{state.x87_control, 0, state.mxcsr & ~mxcsr_flags};
}

} // namespace kestrune::platform
