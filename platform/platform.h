// Everything Kestrune needs of the operating system, in one place. win32.cpp carries it out
// with the Win32 calls the product ships with; posix.cpp with their POSIX counterparts, so that
// the same scan, signature and runtime code runs and is tested on Linux.
//
// Texts are single-byte (the ANSI code page on Windows) and paths at most max_path characters
// with the terminator. None of these functions throws.
#pragma once

#include <cstddef>

#if !defined(_WIN32)
#include <cxxabi.h>
#endif

namespace kestrune::platform {

#if defined(_WIN32)
constexpr char path_separator = '\\';
constexpr bool paths_ignore_case = true; // ASCII case, as the file systems compare names
#else
constexpr char path_separator = '/';
constexpr bool paths_ignore_case = false;
#endif

constexpr std::size_t max_path = 260;           // the platform path limit, terminator included
constexpr unsigned folder_attribute = 0x10;     // GetFileAttributesA's folder bit
constexpr unsigned no_attributes = 0xffffffffu; // the answer for a path that doesn't exist
// FILE_ATTRIBUTE_REPARSE_POINT: the path is a symbolic link or a junction (natively, a symlink).
constexpr unsigned link_attribute = 0x400;

using module_handle = void*; // a loaded library or the executable; null means none

// The executable of the host process (GetModuleHandleA(nullptr)); null on failure.
module_handle executable_module();

// The loaded module whose image holds address (the module's own handle, as its DLL entry is
// given it); null when no module holds it. Takes no reference.
module_handle module_containing(const void* address);

// Copies the file path of a loaded module into buffer, as GetModuleFileNameA does: at most
// size characters, and when the path is longer the copy may lack its terminator. Answers the
// characters copied; 0 on failure or for a null module.
unsigned module_file_name(module_handle module, char* buffer, unsigned size);

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

// Loads a library by path (its initialisation runs); null when it can't be loaded. The
// floating-point settings, x87 stack and pending exceptions are the caller's again afterwards,
// whatever the library's load code did; what it left in force goes into *left when given.
module_handle load_library(const char* path, fp_settings* left = nullptr);
// The address of a named export of a loaded library, or null.
void* find_export(module_handle library, const char* name);
// Drops one reference to a library loaded by load_library; the caller's floating-point state
// is kept as load_library keeps it.
void free_library(module_handle library);
// Keeps the module whose image holds address loaded for the rest of the process, however often
// it is freed later; false when no module holds the address or it can't be pinned. Not for the
// audio path: it may allocate.
bool pin_module(const void* address);

// A folder search for a wildcard pattern, as FindFirstFileA: "dir/*" gives every entry, "." and
// ".." included; "dir/*.dll" gives names ending in ".dll" in any case.
struct search_entry {
    char name[max_path]; // the entry's name only, without its folder
};
using search_handle = void*; // null: nothing found or the folder can't be read
search_handle find_first(const char* pattern, search_entry& entry);
bool find_next(search_handle search, search_entry& entry); // false when none is left
void find_close(search_handle search);

// The attribute bits of a path (folder_attribute marks a folder), or no_attributes.
unsigned file_attributes(const char* path);

// A modal message box owned by the foreground window; answers the button's code. Natively it
// writes the caption and the text to standard error and answers 1.
int message_box(const char* text, const char* caption, unsigned type);

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

// --- The machine bridge: a child process, a block of memory shared with it, a channel -------
// A machine may run in a bridge process of its own (kestrune-bridge beside the library). The
// two sides share one block of memory for the calls' arguments and answers, and a channel (a
// socket pair natively) that carries nothing but wake-ups: one side writes a byte when it has
// published something the other may be sleeping on, and the end of the channel tells each side
// at once that the other process is gone. On Windows none of this is carried out yet: every
// call answers that it can't, and machines run in the host's process.

using os_handle = long long; // natively a file descriptor; -1 means none
constexpr os_handle no_handle = -1;

// Where a bridge process finds what its host handed it: its end of the channel and the block.
constexpr os_handle bridge_channel_handle = 3;
constexpr os_handle bridge_block_handle = 4;

// A block of memory that two processes map. Grown in place by its creator; the other side maps
// it again when it learns of the new size.
struct shared_block {
    unsigned char* base = nullptr; // this process's mapping; null: none
    std::size_t size = 0;          // bytes mapped
    os_handle handle = no_handle;  // what maps it (natively a memfd, closed on exec)
};
// A new zero-filled block of size bytes; false, and block left empty, when it can't be had.
bool create_shared_block(shared_block& block, std::size_t size);
// Grows a block made by create_shared_block to size bytes (the new bytes zero); its base may
// move. False when it can't: the block is then as it was. Never smaller.
bool grow_shared_block(shared_block& block, std::size_t size);
// Maps the block behind handle at size bytes, in place of what block mapped before (the handle
// is kept); false, and block as it was, when it can't.
bool map_shared_block(shared_block& block, os_handle handle, std::size_t size);
// Unmaps the block and closes its handle; block is empty afterwards.
void free_shared_block(shared_block& block);

// A program started by this process, and our end of the channel to it.
struct child_process {
    long long id = 0;              // its process id; 0: none
    os_handle channel = no_handle; // our end of the channel
};
// Starts program with arguments (arguments[0] its name, then the rest, ending with a null),
// handing it the other end of a new channel as bridge_channel_handle and the block behind
// shared as bridge_block_handle, and nothing else of ours. False when it can't be started;
// a program that can't be run at all may also start and end at once.
bool start_child(const char* program, const char* const* arguments, os_handle shared,
                 child_process& child);
// Ends the child (killed at once: one that ended already keeps its exit code), reaps it, closes
// our end of the channel and answers its exit code: its status when it exited, 128 plus the
// signal when a signal ended it, -1 when that can't be learnt.
int end_child(child_process& child);

enum class channel_wait {
    woken,     // a byte came (or nothing, spuriously): look at the shared block again
    closed,    // the other end is closed: its process has ended
    timed_out, // timeout_ms passed without either
};
// Waits on a channel for at most timeout_ms milliseconds (-1: for as long as it takes), and
// reads every wake-up byte that waits.
channel_wait wait_channel(os_handle channel, int timeout_ms);
// Writes one wake-up byte; a closed channel is no error (nor a signal).
void wake_channel(os_handle channel);
// Ends this process as soon as the other end of channel closes, even while this process's own
// threads are busy or hung: for a bridge, whose host may die at any moment. False when the
// watch can't be set up.
bool end_with_channel(os_handle channel);

// A clock for deadlines, in microseconds from an arbitrary start; never goes back.
unsigned long long monotonic_microseconds();

// A hint to the processor inside a spin loop.
inline void spin_pause() {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
}

// What identifies a folder whichever path leads to it: the volume and file index on Windows,
// the device and inode natively. A file system that reports no index (index 0: some network
// and FUSE drives) gives the folder's final path instead, links resolved.
struct folder_identity {
    unsigned long long volume;
    unsigned long long index; // 0: none, and final_path identifies the folder
    char final_path[max_path];
};
// The identity of the folder at path (links followed); false when it can't be read.
bool identify_folder(const char* path, folder_identity& identity);

} // namespace kestrune::platform
