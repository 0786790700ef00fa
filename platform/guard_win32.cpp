// The guard on 32-bit Windows: a structured-exception handler of our own (mingw's catch can't
// see those), and the caller's floating-point state kept apart from the machine's.
#include "platform/guard.h"

#include <windows.h>

#include <cstdint>

#include "platform/fp_state_win32.h"

namespace kestrune::platform {

fp_settings current_fp_settings() {
    return settings_of(read_fp_state());
}

// --- The guard --------------------------------------------------------------------------------
// guarded_call (below, in assembly) does the whole normal path in one frame:
//   - it reads the caller's x87 control word and MXCSR into its frame, and loads the machine's
//     own settings where they differ (kestrune_guard_enter);
//   - it puts a record { next, handler } of its own at the head of the thread's handler chain
//     (fs:[0]), just below those, for the length of the call;
//   - it calls the catching function it was given, which runs the call and catches a C++
//     exception of our own compiler (those travel by DWARF tables, not by the handler chain),
//     and answers 0 for one;
//   - it unlinks the record, reads the settings the call left (kept for the machine's next
//     call) and the x87 status word, and puts the caller's state back where anything differs
//     (kestrune_guard_leave).
// When anything is raised below the record and nobody nearer handles it, kestrune_guard_handler
// lets the system unwind the frames between, so that the machine's own cleanup runs (not after
// a stack overflow: the stack has no room left for that, and the frames below are simply left),
// writes the code into the slot above the record, and puts the stack pointer back at the record
// and jumps to kestrune_guard_resume. That unlinks the record, takes back its own frame pointer,
// and hands the code to kestrune_guard_fault, which restores the caller's floating-point state
// and the thread's stack guard page; the call answers 0.
//
// The frame, from the record up: next, handler | code, caller's x87 control word, caller's
// MXCSR, x87 control word after, MXCSR after | edi, esi, ebx | ebp, and guarded_call's
// return address and arguments.
extern "C" {
void kestrune_guard_enter(const fp_state* caller, const fp_settings* own);
void kestrune_guard_leave(const fp_state* caller, unsigned status);
void kestrune_guard_fault(const fp_state* caller, unsigned code, unsigned* raised);
EXCEPTION_DISPOSITION NTAPI kestrune_guard_handler(EXCEPTION_RECORD* exception, void* established,
                                                   CONTEXT* context, void* dispatcher);
}

// guarded_call itself, by its mangled name (a wrong one fails to link): it answers 1, or 0 once
// anything was raised.
asm(R"(
    .text
    .globl __ZN8kestrune8platform12guarded_callEPFiPvES1_PjPNS0_11fp_settingsE
    .def __ZN8kestrune8platform12guarded_callEPFiPvES1_PjPNS0_11fp_settingsE
    .scl 2; .type 32; .endef
    .p2align 4
__ZN8kestrune8platform12guarded_callEPFiPvES1_PjPNS0_11fp_settingsE:
    cmpl $0, 4(%esp)
    je 9f
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    subl $20, %esp
    fnstcw 4(%esp)
    stmxcsr 8(%esp)
    movl 20(%ebp), %ebx
    testl %ebx, %ebx
    jz 2f
    movzwl 4(%esp), %eax
    cmpl %eax, (%ebx)
    jne 5f
    movl 8(%esp), %eax
    xorl 4(%ebx), %eax
    testl $0xFFFFFFC0, %eax
    jnz 5f
2:  pushl $_kestrune_guard_handler@16
    pushl %fs:0
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    addl $4, %esp
    movl (%esp), %ecx
    movl %ecx, %fs:0
    addl $8, %esp
    testl %eax, %eax
    jz 7f
    fnstcw 12(%esp)
    stmxcsr 16(%esp)
    fnstsw %ax
    movzwl 12(%esp), %ecx
    movl 16(%esp), %edx
    testl %ebx, %ebx
    jz 3f
    movl %ecx, (%ebx)
    andl $0xFFFFFFC0, %edx
    movl %edx, 4(%ebx)
    movl 16(%esp), %edx
3:  testl $0x3880, %eax
    jnz 6f
    cmpw %cx, 4(%esp)
    jne 6f
    cmpl %edx, 8(%esp)
    jne 6f
    movl $1, %eax
4:  leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
5:  pushl %ebx
    leal 8(%esp), %eax
    pushl %eax
    call _kestrune_guard_enter
    addl $8, %esp
    jmp 2b
6:  movzwl %ax, %eax
    pushl %eax
    leal 8(%esp), %eax
    pushl %eax
    call _kestrune_guard_leave
    addl $8, %esp
    movl $1, %eax
    jmp 4b
7:  movl $0xE06D7363, (%esp)
    jmp 8f

    .globl _kestrune_guard_resume
_kestrune_guard_resume:
    movl (%esp), %ecx
    movl %ecx, %fs:0
    addl $8, %esp
    leal 32(%esp), %ebp
8:  pushl 16(%ebp)
    pushl 4(%esp)
    leal 12(%esp), %eax
    pushl %eax
    call _kestrune_guard_fault
    addl $12, %esp
    xorl %eax, %eax
    jmp 4b
9:  movl $1, %eax
    ret
)");

extern "C" void kestrune_guard_enter(const fp_state* caller, const fp_settings* own) {
    fp_state entered{own->x87_control, (own->mxcsr & ~mxcsr_flags) | (caller->mxcsr & mxcsr_flags)};
    restore_fp_state(entered, false);
}

extern "C" void kestrune_guard_leave(const fp_state* caller, unsigned status) {
    restore_fp_state(*caller, (status & x87_unbalanced) != 0);
}

// After a fault the thread's guard page may be gone: the fault was a stack overflow, or came
// while the stack was exhausted. The C runtime puts it back where it is missing.
static void restore_stack_guard() {
    HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    if (runtime == nullptr) {
        return;
    }
    using reset_function = int(__cdecl*)();
    auto reset = reinterpret_cast<reset_function>(GetProcAddress(runtime, "_resetstkoflw"));
    if (reset != nullptr) {
        reset();
    }
}

extern "C" void kestrune_guard_fault(const fp_state* caller, unsigned code, unsigned* raised) {
    restore_fp_state(*caller, true);
    restore_stack_guard();
    if (raised != nullptr) {
        *raised = code;
    }
}

extern "C" EXCEPTION_DISPOSITION NTAPI kestrune_guard_handler(EXCEPTION_RECORD* exception,
                                                              void* established, CONTEXT* context,
                                                              void* dispatcher) {
    (void)context, (void)dispatcher;
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
        return ExceptionContinueSearch;
    }
    static_cast<DWORD*>(established)[2] = exception->ExceptionCode;
    if (exception->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
        RtlUnwind(established, nullptr, exception, nullptr);
    }
    asm volatile("movl %0, %%esp\n\tjmp _kestrune_guard_resume" : : "r"(established));
    __builtin_unreachable();
}

} // namespace kestrune::platform
