// Processes and channels: a helper process started beside the library, a block of memory that
// both map, and a channel that carries wake-ups and tells each side at once that the other has
// ended. process_posix.cpp carries it out with posix_spawn, a memfd and a socket pair;
// process_win32.cpp with CreateProcess, a section and a pair of events. None of these throws.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace kestrune::platform {

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

} // namespace kestrune::platform
