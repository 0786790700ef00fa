// Counting a machine's own heap calls: the machine module's imports of the heap functions are
// pointed at counting functions that call the real ones. It sees what a machine with its own,
// static C runtime allocates too, which no replaced operator new of ours would: on Windows the
// process heap (HeapAlloc, HeapReAlloc, RtlAllocateHeap), GlobalAlloc, LocalAlloc, VirtualAlloc
// and the C runtime's malloc, calloc, realloc and operator new of whichever runtime it imports
// (its import address table); natively malloc, calloc, realloc and operator new (its GOT
// slots). One definition per build: allocation_count_posix.cpp, allocation_count_win32.cpp.
#pragma once

#include <string>

namespace kestrune_host {

// Counts one heap call of the machine's, while a counter is started; the counting functions in
// its imports call it.
void note_allocation() noexcept;

// One machine module at a time; its imports are put back when this goes.
class allocation_counter {
public:
    allocation_counter() = default;
    ~allocation_counter();
    allocation_counter(const allocation_counter&) = delete;
    allocation_counter& operator=(const allocation_counter&) = delete;

    // Redirects the heap imports of the module loaded from module_path; answers how many it
    // redirected (0: not loaded, or it imports none of them, and nothing is counted).
    int attach(const std::string& module_path);
    // Calls are counted only between start and stop, on any thread.
    void start();
    void stop();
    long long count() const;
};

} // namespace kestrune_host
