// The guard around every call into a machine: whatever the machine raises is caught and its
// code kept, and on Windows the caller's floating-point state is its own again afterwards.
// guard_win32.cpp carries it out with a structured-exception handler of its own; natively it is
// the catch below alone.
#pragma once

#if !defined(_WIN32)
#include <cxxabi.h>
#endif

#include "platform/floating_point.h"

namespace kestrune::platform {

// Exception codes that a guarded call may answer (Windows' own codes; natively only the first).
constexpr unsigned cxx_exception_code = 0xE06D7363u; // an MSVC C++ throw; natively, any C++ one
constexpr unsigned access_violation_code = 0xC0000005u;
constexpr unsigned stack_overflow_code = 0xC00000FDu;

// What guarded_call runs: a function that makes the call and answers 1, or 0 when the call threw
// a C++ exception of our own compiler, which it caught itself (on Windows those travel by DWARF
// tables, not by the handler chain). catching_call<Call> makes one for any callable, with the call
// inlined into it, so that a guarded call costs one call more than a bare one. Natively glibc's
// forced unwind (a cancelled thread) passes through, as it must: swallowed, it ends in abort.
using catching_function = int (*)(void*);

template <class Call>
#if !defined(_WIN32)
// The forced unwind has no object to bind its catch to, which the undefined-behaviour sanitizer
// would report.
__attribute__((no_sanitize("undefined")))
#endif
int catching_call(void* context) {
    try {
        (*static_cast<Call*>(context))();
        return 1;
#if !defined(_WIN32)
    } catch (abi::__forced_unwind&) {
        throw;
#endif
    } catch (...) {
        return 0;
    }
}

// Runs call(context) and answers true, or false when the call raised anything: a C++
// exception (caught by call itself), and on Windows every structured exception too (a processor
// fault, or an MSVC C++ exception that our own compiler's catch can't see). What was raised is
// discarded; its code goes into *raised when that is given (cxx_exception_code for a C++
// exception of our own compiler). A null call answers true.
//
// On Windows the caller's floating-point state is its own again afterwards, however the call
// ended: its x87 control word and MXCSR, no pending x87 exception and the x87 stack empty.
// With own given, the call runs in those settings (loaded only when they differ from the
// caller's) and own receives what the call left in force, for the next call. After any fault
// the thread's stack guard page is back, so that every later stack overflow is caught too.
// The call must not leave by any other way than returning.
#if defined(_WIN32)
bool guarded_call(catching_function call, void* context, unsigned* raised = nullptr,
                  fp_settings* own = nullptr);
#else
// Natively nothing more than the catch in call, defined here so that the call inlines into its
// caller: the normal path then costs nothing.
inline bool guarded_call(catching_function call, void* context, unsigned* raised = nullptr,
                         fp_settings* own = nullptr) {
    (void)own;
    if (call == nullptr || call(context) != 0) {
        return true;
    }
    if (raised != nullptr) {
        *raised = cxx_exception_code;
    }
    return false;
}
#endif

// The same for a plain function of the context.
inline bool guarded_call(void (*call)(void*), void* context, unsigned* raised = nullptr,
                         fp_settings* own = nullptr) {
    struct plain {
        void (*function)(void*);
        void* context;
        void operator()() const { function(context); }
    } closure{call, context};
    return call == nullptr || guarded_call(catching_call<plain>, &closure, raised, own);
}

} // namespace kestrune::platform
