// Everything Kestrune needs of the operating system, in one place. win32.cpp carries it out
// with the Win32 calls the product ships with; posix.cpp with their POSIX counterparts, so that
// the same scan, signature and runtime code runs and is tested on Linux.
//
// Texts are single-byte (the ANSI code page on Windows) and paths at most max_path characters
// with the terminator. None of these functions throws.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>

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

// The path of the file name beside the module whose image holds address (this library, or the
// program it is linked into): that module's absolute folder and name. False when the module's
// path can't be learnt or the result doesn't fit size with its terminator.
bool sibling_path(const void* address, const char* name, char* text, std::size_t size);
// The folder of this process's executable, without its last separator, into text; "" when it
// can't be learnt or doesn't fit size.
void executable_folder(char* text, std::size_t size);

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
// two sides share one block of memory for the calls' arguments and answers, and a channel that
// carries nothing but wake-ups: one side wakes the other when it has published something the
// other may be sleeping on, and the channel tells each side at once that the other process is
// gone. Natively the channel is a socket pair, whose close is the process's end; on Windows a
// pair of auto-reset events, one for each side to sleep on, and the other side's process.

using os_handle = long long; // a file descriptor natively, a HANDLE on Windows; -1 means none
constexpr os_handle no_handle = -1;

// A block of memory that two processes map.
struct shared_block {
    unsigned char* base = nullptr; // this process's mapping; null: none
    std::size_t size = 0;          // bytes mapped
    os_handle handle = no_handle;  // what maps it (natively a memfd, on Windows a section; never
                                   // inherited by other children)
};
// A new zero-filled block of size bytes; false, and block left empty, when it can't be had.
bool create_shared_block(shared_block& block, std::size_t size);
// Grows a block made by create_shared_block to size bytes, its old bytes kept and the new ones
// zero. Natively it grows in place (its base may move) and old is left empty. On Windows a
// section can't grow: a new one takes the block's place, and the old one goes into old, still
// mapped, for the caller to free once the other side has moved too. False when it can't: the
// block is then as it was. Never smaller.
bool grow_shared_block(shared_block& block, std::size_t size, shared_block& old);
// Maps the block behind handle at size bytes, in place of what block mapped before; the handle
// before is closed when it differs. False, and block as it was, when it can't.
bool map_shared_block(shared_block& block, os_handle handle, std::size_t size);
// Unmaps the block and closes its handle; block is empty afterwards.
void free_shared_block(shared_block& block);

// One side's end of a channel.
struct channel {
    os_handle wait = no_handle; // what this side sleeps on: natively its socket, on Windows its
                                // own event
    os_handle wake = no_handle; // what wakes the other side: natively the same socket, on
                                // Windows the other side's event
    os_handle peer = no_handle; // the other side's process, whose end closes the channel
                                // whoever holds its other end: on Windows its handle, natively
                                // the host's process descriptor of its bridge (none in a
                                // bridge, and on kernels without process descriptors)
};

// What a bridge process is handed: its end of the channel and the block, as its own handles.
struct bridge_handles {
    channel link;
    os_handle block = no_handle;
};
// The text by which start_child hands them over, the program's last argument: four numbers,
// "wait,wake,peer,block". False when it doesn't fit size.
inline bool write_bridge_handles(const bridge_handles& handles, char* text, std::size_t size) {
    int written = std::snprintf(text, size, "%lld,%lld,%lld,%lld", handles.link.wait,
                                handles.link.wake, handles.link.peer, handles.block);
    return written > 0 && static_cast<std::size_t>(written) < size;
}
// Reads that text; false when it isn't one (handles as they were).
inline bool read_bridge_handles(const char* text, bridge_handles& handles) {
    os_handle read[4];
    for (int i = 0; i < 4; ++i) {
        char* end = nullptr;
        if (text == nullptr || (*text != '-' && (*text < '0' || *text > '9'))) {
            return false;
        }
        read[i] = std::strtoll(text, &end, 10);
        if (read[i] < no_handle || *end != (i < 3 ? ',' : '\0')) {
            return false;
        }
        text = end + 1;
    }
    handles = bridge_handles{channel{read[0], read[1], read[2]}, read[3]};
    return true;
}

// A program started by this process, and what we share with it.
struct child_process {
    long long id = 0;              // its process id; 0: none
    os_handle process = no_handle; // its process handle (natively a process descriptor, none
                                   // on kernels without them); ends and reaps it, not its id
    channel link;                  // our end of the channel
    os_handle block = no_handle;   // the block it was handed, as its own handle
};
// Starts program with arguments (arguments[0] its name, then the rest, ending with a null) and
// one argument more, the bridge_handles text: the other end of a new channel, and the block
// behind shared. Nothing else of ours is handed to it. False when it can't be started; a
// program that can't be run at all may also start and end at once.
bool start_child(const char* program, const char* const* arguments, os_handle shared,
                 child_process& child);
// The handle by which child maps block, after grow_shared_block moved it to a new section:
// on Windows a duplicate made in the child's process (which the child closes when it maps
// another), natively the file it was handed at start, which grew in place. no_handle when
// it can't be had.
os_handle hand_to_child(child_process& child, const shared_block& block);
// Ends the child (killed at once: one that ended already keeps its exit code), reaps it, closes
// our end of the channel and answers its exit code: its status when it exited (on Windows its
// exit code, the exception's code when a fault ended it), natively 128 plus the signal when a
// signal ended it; -1 when that can't be learnt, or the process hasn't ended within wait_ms
// (stuck in the kernel or a driver: the host doesn't wait for it). A process that this process
// didn't start is never signalled: natively a child already reaped by someone else is left
// alone.
int end_child(child_process& child, int wait_ms);

enum class channel_wait {
    woken,     // a wake-up came (or nothing, spuriously): look at the shared block again
    closed,    // the other end is closed: its process has ended
    timed_out, // timeout_ms passed without either
};
// Waits on a channel for at most timeout_ms milliseconds (-1: for as long as it takes), and
// takes every wake-up that waits.
channel_wait wait_channel(const channel& link, int timeout_ms);
// Wakes the other side; a closed channel is no error (nor a signal).
void wake_channel(const channel& link);
// Where the DLLs that a library loaded later needs are looked for, after this program's own
// folder and before the system's: on Windows folder (SetDllDirectoryA), so that a bridge finds a
// machine's DLLs beside the host's executable as the host's process does; natively nothing
// changes (both processes search the same environment). Null or "" leaves the search alone.
bool search_dlls_in(const char* folder);
// In a bridge: makes the handles it was handed its own alone, so that no process that its
// machine starts inherits them (and keeps the channel open after the bridge died). False when
// one of them can't be changed.
bool keep_from_children(const bridge_handles& handles);
// Ends this process as soon as the other end of the channel closes, even while this process's
// own threads are busy or hung: for a bridge, whose host may die at any moment. On Windows a
// fault that nothing handles ends the process at once too, with the fault's code and without
// a crash dialog. False when the watch can't be set up.
bool end_with_channel(const channel& link);

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
