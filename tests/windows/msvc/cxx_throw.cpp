// What the MSVC runtime gives a binary that throws C++ exceptions, reduced to what a throw
// needs: _CxxThrowException raises exception 0xE06D7363 with the three arguments that MSVC's
// own runtime passes (the magic number, the thrown object, its throw info), the frame handler
// that MSVC-ABI functions register lets everything pass, and the vtable that the type
// descriptors of thrown types refer to. Linked only into the machines that throw.
#include "tests/windows/msvc/win32_mini.h"

// The type descriptors of thrown types point at type_info's vtable; nothing here reads it.
extern "C" const void* const msvc_type_info_vtable[2] __asm__("??_7type_info@@6B@") = {nullptr,
                                                                                       nullptr};

extern "C" __declspec(noreturn) void __stdcall _CxxThrowException(void* object, void* info) {
    const unsigned long arguments[3] = {0x19930520ul, reinterpret_cast<unsigned long>(object),
                                        reinterpret_cast<unsigned long>(info)};
    RaiseException(0xE06D7363ul, WIN_EXCEPTION_NONCONTINUABLE, 3, arguments);
    for (;;) {
    }
}

// Registered by every function that has something to clean up on the way out. These machines
// catch nothing, so it answers ExceptionContinueSearch (1) on both passes.
extern "C" int __cdecl __CxxFrameHandler3(void* record, void* frame, void* context,
                                          void* dispatcher) {
    (void)record, (void)frame, (void)context, (void)dispatcher;
    return 1;
}
