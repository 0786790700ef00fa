// The platform calls on 32-bit Windows: the Win32 functions the product ships with, and a
// structured-exception guard of our own (mingw's catch can't see those).
#include "platform/platform.h"

#include <windows.h>

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

module_handle load_library(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return nullptr;
    }
    return LoadLibraryA(path);
}

void* find_export(module_handle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void free_library(module_handle library) {
    if (library != nullptr) {
        FreeLibrary(static_cast<HMODULE>(library));
    }
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

// The guard. A frame of our own goes at the head of the thread's handler chain (fs:[0]) for
// the length of the call. When anything is raised below it and nobody nearer handles it, our
// handler lets the system unwind the frames between (so the machine's own cleanup runs),
// unlinks our frame and jumps back into guarded_call, which answers false. A C++ exception of
// our own compiler travels by DWARF tables instead, so a catch inside the frame takes those.
// Everything guarded_call needs after the jump lives in the frame, read through a volatile
// pointer, since the jump may leave registers as the machine had them.
namespace {

struct guard_frame {
    EXCEPTION_REGISTRATION_RECORD record; // first: fs:[0] points here
    void* resume[5];                      // __builtin_setjmp's buffer
    DWORD code;                           // what was raised
    unsigned* raised;                     // where the caller wants the code, or null
    unsigned mxcsr;                       // the floating-point settings before the call
    unsigned short x87_control;
};

EXCEPTION_REGISTRATION_RECORD* chain_head() {
    EXCEPTION_REGISTRATION_RECORD* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void set_chain_head(EXCEPTION_REGISTRATION_RECORD* head) {
    asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

EXCEPTION_DISPOSITION NTAPI guard_handler(EXCEPTION_RECORD* exception, void* established,
                                          CONTEXT* context, void* dispatcher) {
    (void)context, (void)dispatcher;
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
        return ExceptionContinueSearch;
    }
    auto* frame = static_cast<guard_frame*>(established);
    frame->code = exception->ExceptionCode;
    RtlUnwind(established, nullptr, exception, nullptr);
    set_chain_head(frame->record.Next);
    __builtin_longjmp(frame->resume, 1);
}

// Our own C++ exceptions, inside the frame; plain data only around it.
__attribute__((noinline)) bool call_catching(void (*call)(void*), void* context) {
    try {
        call(context);
        return true;
    } catch (...) {
        return false;
    }
}

// A machine that faulted may have left values on the x87 stack (where every float result is
// returned, so a full stack turns the next one into NaN) and its own rounding and exception
// settings. fninit empties the stack and clears pending exceptions; the settings go back.
void restore_floating_point(unsigned short x87_control, unsigned mxcsr) {
    asm volatile("fninit\n\tfldcw %0\n\tldmxcsr %1" : : "m"(x87_control), "m"(mxcsr));
}

// After a stack overflow the thread's guard page is gone; the C runtime puts it back, so that
// a second overflow is caught too.
void restore_stack_guard() {
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

// Back in guarded_call after a fault or one of our own exceptions.
bool after_fault(guard_frame* frame, DWORD code) {
    restore_floating_point(frame->x87_control, frame->mxcsr);
    if (code == EXCEPTION_STACK_OVERFLOW) {
        restore_stack_guard();
    }
    if (frame->raised != nullptr) {
        *frame->raised = code;
    }
    return false;
}

} // namespace

bool guarded_call(void (*call)(void*), void* context, unsigned* raised) {
    if (call == nullptr) {
        return true;
    }
    // Filled in plainly (set_chain_head's memory clobber puts it in memory before the call);
    // read back after the jump only through the volatile pointer.
    guard_frame frame_storage;
    frame_storage.record.Next = chain_head();
    frame_storage.record.Handler = guard_handler;
    frame_storage.code = 0;
    frame_storage.raised = raised;
    asm volatile("fnstcw %0\n\tstmxcsr %1"
                 : "=m"(frame_storage.x87_control), "=m"(frame_storage.mxcsr));
    guard_frame* volatile frame = &frame_storage;
    if (__builtin_setjmp(frame_storage.resume) != 0) {
        // Back from guard_handler, which has unlinked the frame already.
        return after_fault(frame, *static_cast<volatile DWORD*>(&frame->code));
    }
    set_chain_head(&frame_storage.record);
    bool returned = call_catching(call, context);
    set_chain_head(frame_storage.record.Next);
    return returned || after_fault(&frame_storage, cxx_exception_code);
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
    CloseHandle(folder);
    if (!known) {
        return false;
    }
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
                     information.nFileIndexLow;
    return true;
}

} // namespace kestrune::platform
