// The platform calls on 32-bit Windows: the Win32 functions the product ships with, and a
// structured-exception guard of our own (mingw's catch can't see those).
#include "platform/platform.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <cstring>

namespace kestrune::platform {

module_handle module_containing(const void* address) {
    HMODULE module = nullptr;
    if (address == nullptr || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                      GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                  static_cast<LPCSTR>(address), &module)) {
        return nullptr;
    }
    return module;
}

module_handle executable_module() {
    return GetModuleHandleA(nullptr);
}

unsigned module_file_name(module_handle module, char* buffer, unsigned size) {
    if (module == nullptr || buffer == nullptr || size == 0) {
        return 0;
    }
    return GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}

void* find_export(module_handle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool pin_module(const void* address) {
    HMODULE module = nullptr;
    return address != nullptr && GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN |
                                                        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                                    static_cast<LPCSTR>(address), &module) != 0;
}

namespace {
void copy_name(const WIN32_FIND_DATAA& data, search_entry& entry) {
    static_assert(sizeof data.cFileName == sizeof entry.name);
    std::memcpy(entry.name, data.cFileName, sizeof entry.name);
    entry.name[sizeof entry.name - 1] = '\0';
}
} // namespace

search_handle find_first(const char* pattern, search_entry& entry) {
    if (pattern == nullptr || pattern[0] == '\0') {
        return nullptr;
    }
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE || search == nullptr) {
        return nullptr;
    }
    copy_name(data, entry);
    return search;
}

bool find_next(search_handle search, search_entry& entry) {
    if (search == nullptr) {
        return false;
    }
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(static_cast<HANDLE>(search), &data)) {
        return false;
    }
    copy_name(data, entry);
    return true;
}

void find_close(search_handle search) {
    if (search != nullptr) {
        FindClose(static_cast<HANDLE>(search));
    }
}

unsigned file_attributes(const char* path) {
    if (path == nullptr) {
        return no_attributes;
    }
    return GetFileAttributesA(path);
}

int message_box(const char* text, const char* caption, unsigned type) {
    return MessageBoxA(GetForegroundWindow(), text, caption, type);
}

// --- Floating-point state -------------------------------------------------------------------
// Each side keeps its own. Reading the state (fnstcw, stmxcsr, fnstsw) costs from a cycle or two
// to some 4 ns an instruction (stmxcsr and fnstsw on AMD's Zen 4); loading it (fldcw, ldmxcsr,
// fninit) costs more, so it is loaded only where it differs.
namespace {

constexpr unsigned mxcsr_flags = 0x3F; // sticky exception flags: results, not settings

// The x87 status word as the caller needs it: the stack top at 0 (bits 11-13: a machine that
// left values on the stack moved it) and no unmasked exception pending (the error summary, bit
// 7). The tag word would tell more (a stack left with all eight values has its top at 0 again),
// but fnstenv, and even fxam of an empty register, cost a hundred times as much.
constexpr unsigned short x87_unbalanced = 0x3880;

// A thread's floating-point state as the guard keeps it, here and in guarded_call's frame
// (the assembly below reads the control word at offset 0 and MXCSR at offset 4).
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
void restore_fp_state(const fp_state& state, bool reset_x87) {
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

} // namespace

fp_settings current_fp_settings() {
    return settings_of(read_fp_state());
}

module_handle load_library(const char* path, fp_settings* left) {
    if (path == nullptr || path[0] == '\0') {
        return nullptr;
    }
    // Delphi's and Borland's runtimes, among others, unmask x87 exceptions in their load code.
    fp_state before = read_fp_state();
    HMODULE library = LoadLibraryA(path);
    if (left != nullptr) {
        *left = settings_of(read_fp_state());
    }
    keep_fp_state(before);
    return library;
}

void free_library(module_handle library) {
    if (library != nullptr) {
        fp_state before = read_fp_state();
        FreeLibrary(static_cast<HMODULE>(library));
        keep_fp_state(before);
    }
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

bool identify_folder(const char* path, folder_identity& identity) {
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    // A folder opens only with backup semantics; without FILE_FLAG_OPEN_REPARSE_POINT a link
    // (symbolic link or junction) opens the folder it leads to.
    HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information;
    bool known = GetFileInformationByHandle(folder, &information) != 0 &&
                 (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!known) {
        CloseHandle(folder);
        return false;
    }
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
                     information.nFileIndexLow;
    identity.final_path[0] = '\0';
    if (identity.index == 0) {
        // No index from this file system: the final path, links resolved, stands for it.
        DWORD length = GetFinalPathNameByHandleA(folder, identity.final_path,
                                                 sizeof identity.final_path, FILE_NAME_NORMALIZED);
        known = length > 0 && length < sizeof identity.final_path;
    }
    CloseHandle(folder);
    return known;
}

// --- The machine bridge ---------------------------------------------------------------------

namespace {

HANDLE as_handle(os_handle handle) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(handle));
}

os_handle as_os_handle(HANDLE handle) {
    return handle == nullptr ? no_handle
                             : static_cast<os_handle>(reinterpret_cast<std::intptr_t>(handle));
}

void close_os_handle(os_handle handle) {
    if (handle != no_handle) {
        CloseHandle(as_handle(handle));
    }
}

// Appends text to a command line as one argument, quoted as the C runtime's parser reads it
// back: backslashes are doubled only before a quote, and a quote is escaped. False when it
// doesn't fit.
bool append_argument(char* line, std::size_t size, std::size_t& used, const char* text) {
    auto put = [&](char c) {
        if (used + 1 >= size) {
            return false;
        }
        line[used++] = c;
        line[used] = '\0';
        return true;
    };
    if ((used > 0 && !put(' ')) || !put('"')) {
        return false;
    }
    for (const char* at = text;; ++at) {
        std::size_t backslashes = 0;
        while (*at == '\\') {
            ++backslashes;
            ++at;
        }
        // Before a quote or the closing one, each backslash is doubled.
        std::size_t times = *at == '"' || *at == '\0' ? 2 * backslashes : backslashes;
        for (std::size_t i = 0; i < times; ++i) {
            if (!put('\\')) {
                return false;
            }
        }
        if (*at == '\0') {
            return put('"');
        }
        if ((*at == '"' && !put('\\')) || !put(*at)) {
            return false;
        }
    }
}

// The code a bridge killed by its host ends with (its cause is then the host's own).
constexpr UINT killed_exit_code = 1;

// Ends the process with a fault's code when nothing else handles the fault: no crash dialog,
// no debugger, and the host learns the code as the exit code.
LONG WINAPI end_on_fault(EXCEPTION_POINTERS* fault) {
    UINT code = fault != nullptr && fault->ExceptionRecord != nullptr
                    ? fault->ExceptionRecord->ExceptionCode
                    : killed_exit_code;
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The process that the watch waits on: one a process, as a bridge has one host.
HANDLE watched_process = nullptr;

DWORD WINAPI watch_process(void*) {
    WaitForSingleObject(watched_process, INFINITE);
    TerminateProcess(GetCurrentProcess(), 0); // whatever the process's other threads are doing
    return 0;
}

} // namespace

bool create_shared_block(shared_block& block, std::size_t size) {
    block = shared_block{};
    if (size == 0) { // a 32-bit size, as the section's
        return false;
    }
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(size), nullptr);
    if (section == nullptr) {
        return false;
    }
    void* base = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (base == nullptr) {
        CloseHandle(section);
        return false;
    }
    block.base = static_cast<unsigned char*>(base);
    block.size = size;
    block.handle = as_os_handle(section);
    return true;
}

bool grow_shared_block(shared_block& block, std::size_t size, shared_block& old) {
    old = shared_block{};
    if (block.base == nullptr || size <= block.size) {
        return block.base != nullptr;
    }
    shared_block grown;
    if (!create_shared_block(grown, size)) {
        return false;
    }
    std::memcpy(grown.base, block.base, block.size);
    old = block;
    block = grown;
    return true;
}

bool map_shared_block(shared_block& block, os_handle handle, std::size_t size) {
    if (handle == no_handle || size == 0) {
        return false;
    }
    void* base = MapViewOfFile(as_handle(handle), FILE_MAP_ALL_ACCESS, 0, 0, size);
    if (base == nullptr) {
        return false;
    }
    if (block.base != nullptr) {
        UnmapViewOfFile(block.base);
    }
    if (block.handle != handle) {
        close_os_handle(block.handle);
    }
    block.base = static_cast<unsigned char*>(base);
    block.size = size;
    block.handle = handle;
    return true;
}

void free_shared_block(shared_block& block) {
    if (block.base != nullptr) {
        UnmapViewOfFile(block.base);
    }
    close_os_handle(block.handle);
    block = shared_block{};
}

bool start_child(const char* program, const char* const* arguments, os_handle shared,
                 child_process& child) {
    child = child_process{};
    if (program == nullptr || arguments == nullptr || shared == no_handle) {
        return false;
    }
    HANDLE self = GetCurrentProcess();
    HANDLE to_bridge = CreateEventA(nullptr, FALSE, FALSE, nullptr); // the bridge sleeps on it
    HANDLE to_host = CreateEventA(nullptr, FALSE, FALSE, nullptr);   // and we on this one
    // Inheritable copies of what the bridge is handed, made for this start alone: its event,
    // ours, this process (whose end ends it) and the block.
    HANDLE handed[4] = {};
    bool made =
        to_bridge != nullptr && to_host != nullptr &&
        DuplicateHandle(self, to_bridge, self, &handed[0], 0, TRUE, DUPLICATE_SAME_ACCESS) &&
        DuplicateHandle(self, to_host, self, &handed[1], 0, TRUE, DUPLICATE_SAME_ACCESS) &&
        DuplicateHandle(self, self, self, &handed[2], SYNCHRONIZE, TRUE, 0) &&
        DuplicateHandle(self, as_handle(shared), self, &handed[3], 0, TRUE, DUPLICATE_SAME_ACCESS);
    char text[96];
    char line[3 * max_path + sizeof text];
    std::size_t used = 0;
    line[0] = '\0';
    made = made && write_bridge_handles(
                       bridge_handles{channel{as_os_handle(handed[0]), as_os_handle(handed[1]),
                                              as_os_handle(handed[2])},
                                      as_os_handle(handed[3])},
                       text, sizeof text);
    for (const char* const* argument = arguments; made && *argument != nullptr; ++argument) {
        made = append_argument(line, sizeof line, used, *argument);
    }
    made = made && append_argument(line, sizeof line, used, text);

    PROCESS_INFORMATION started{};
    bool running = false;
    if (made) {
        // Only these four are inherited, not whatever else of the host's is inheritable.
        STARTUPINFOEXA startup{};
        startup.StartupInfo.cb = sizeof startup;
        alignas(8) unsigned char list_room[256];
        SIZE_T list_size = sizeof list_room;
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_room);
        bool listed = InitializeProcThreadAttributeList(list, 1, 0, &list_size) != FALSE;
        bool refused =
            !listed || !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                  handed, sizeof handed, nullptr, nullptr);
        if (!refused) {
            startup.lpAttributeList = list;
            running = CreateProcessA(program, line, nullptr, nullptr, TRUE,
                                     CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                     nullptr, &startup.StartupInfo, &started) != FALSE;
            // A system that knows the attribute list but not handle lists refuses the start
            // itself as an invalid parameter; any other failure (no program) is final.
            refused = !running && GetLastError() == ERROR_INVALID_PARAMETER;
        }
        if (listed) {
            DeleteProcThreadAttributeList(list);
        }
        if (refused) { // a system without handle lists: every inheritable handle goes along
            startup.StartupInfo.cb = sizeof startup.StartupInfo;
            running = CreateProcessA(program, line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                     nullptr, nullptr, &startup.StartupInfo, &started) != FALSE;
        }
    }
    for (HANDLE copy : handed) {
        if (copy != nullptr) {
            CloseHandle(copy); // the bridge has its own now, under the same values
        }
    }
    if (!running) {
        if (to_bridge != nullptr) {
            CloseHandle(to_bridge);
        }
        if (to_host != nullptr) {
            CloseHandle(to_host);
        }
        return false;
    }
    CloseHandle(started.hThread);
    child.id = started.dwProcessId;
    child.process = as_os_handle(started.hProcess);
    child.link = channel{as_os_handle(to_host), as_os_handle(to_bridge), child.process};
    child.block = as_os_handle(handed[3]);
    return true;
}

os_handle hand_to_child(child_process& child, const shared_block& block) {
    HANDLE theirs = nullptr;
    if (child.process == no_handle || block.handle == no_handle ||
        !DuplicateHandle(GetCurrentProcess(), as_handle(block.handle), as_handle(child.process),
                         &theirs, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return no_handle;
    }
    return as_os_handle(theirs);
}

int end_child(child_process& child, int wait_ms) {
    int code = -1;
    if (child.process != no_handle) {
        HANDLE process = as_handle(child.process);
        TerminateProcess(process, killed_exit_code); // fails for one that ended already
        // A termination completes at once, unless the process is stuck in a driver: then its
        // code stays unknown rather than the host waiting for it.
        DWORD status = 0;
        if (WaitForSingleObject(process, wait_ms < 0 ? 0 : static_cast<DWORD>(wait_ms)) ==
                WAIT_OBJECT_0 &&
            GetExitCodeProcess(process, &status) && status != STILL_ACTIVE) {
            code = static_cast<int>(status);
        }
        CloseHandle(process);
    }
    close_os_handle(child.link.wait);
    close_os_handle(child.link.wake);
    child = child_process{};
    return code;
}

channel_wait wait_channel(const channel& link, int timeout_ms) {
    HANDLE both[2] = {as_handle(link.wait), as_handle(link.peer)};
    DWORD woke = WaitForMultipleObjects(link.peer != no_handle ? 2 : 1, both, FALSE,
                                        timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms));
    if (woke == WAIT_OBJECT_0) {
        return channel_wait::woken;
    }
    return woke == WAIT_TIMEOUT ? channel_wait::timed_out : channel_wait::closed;
}

void wake_channel(const channel& link) {
    SetEvent(as_handle(link.wake));
}

bool search_dlls_in(const char* folder) {
    return folder == nullptr || folder[0] == '\0' || SetDllDirectoryA(folder) != FALSE;
}

bool keep_from_children(const bridge_handles& handles) {
    bool kept = true;
    for (os_handle handle :
         {handles.link.wait, handles.link.wake, handles.link.peer, handles.block}) {
        if (handle != no_handle) {
            kept = SetHandleInformation(as_handle(handle), HANDLE_FLAG_INHERIT, 0) != FALSE && kept;
        }
    }
    return kept;
}

bool end_with_channel(const channel& link) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(end_on_fault);
    watched_process = as_handle(link.peer);
    if (link.peer == no_handle) {
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 64 * 1024, watch_process, nullptr,
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        return false;
    }
    CloseHandle(thread);
    return true;
}

unsigned long long monotonic_microseconds() {
    LARGE_INTEGER count;
    LARGE_INTEGER frequency;
    if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) ||
        frequency.QuadPart <= 0) {
        return 0;
    }
    auto ticks = static_cast<unsigned long long>(count.QuadPart);
    auto per_second = static_cast<unsigned long long>(frequency.QuadPart);
    return ticks / per_second * 1000000ull + ticks % per_second * 1000000ull / per_second;
}

} // namespace kestrune::platform
