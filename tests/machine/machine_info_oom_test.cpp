// build_machine_info when memory runs out: every allocation it makes is failed in turn, and
// each time it must answer null and leave nothing behind. Its own program, because it replaces
// the global operator new and delete.
#include "machine/machine_info.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include <gtest/gtest.h>

namespace {

// The allocation counter. Allocations are counted always; they fail only while armed.
struct allocation_log {
    long live = 0;     // blocks handed out and not yet freed
    long made = 0;     // allocations asked for while armed
    long fail_at = -1; // the armed allocation to fail; -1: none
    bool armed = false;
};
allocation_log log_;

// Answers a block, or null when this is the allocation to fail.
void* allocate(std::size_t size) {
    if (log_.armed && log_.made++ == log_.fail_at)
        return nullptr;
    void* p = std::malloc(size ? size : 1);
    if (p)
        ++log_.live;
    return p;
}

void release(void* p) {
    if (!p)
        return;
    --log_.live;
    std::free(p);
}

// Aligned blocks keep the malloc'ed pointer just below the aligned one.
void* allocate_aligned(std::size_t size, std::align_val_t align) {
    const std::size_t a = static_cast<std::size_t>(align);
    void* raw = allocate(size + a + sizeof(void*));
    if (!raw)
        return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
    void* aligned = reinterpret_cast<void*>((start + a - 1) & ~(a - 1));
    static_cast<void**>(aligned)[-1] = raw;
    return aligned;
}

void release_aligned(void* p) {
    if (p)
        release(static_cast<void**>(p)[-1]);
}

void* allocate_or_throw(std::size_t size) {
    void* p = allocate(size);
    if (!p)
        throw std::bad_alloc();
    return p;
}

void* allocate_aligned_or_throw(std::size_t size, std::align_val_t align) {
    void* p = allocate_aligned(size, align);
    if (!p)
        throw std::bad_alloc();
    return p;
}

} // namespace

void* operator new(std::size_t size) {
    return allocate_or_throw(size);
}
void* operator new[](std::size_t size) {
    return allocate_or_throw(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
    return allocate_aligned_or_throw(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a) {
    return allocate_aligned_or_throw(size, a);
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return allocate_aligned(size, a);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    release_aligned(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release_aligned(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    release_aligned(p);
}

namespace kestrune {
namespace {

// A generator with long texts (beyond any short-string buffer) and three parameters, so that
// every kind of allocation the conversion makes is there to fail.
struct big_machine {
    machine_parameter params[3] = {
        {"Cutoff", "Filter cutoff frequency", 0, 100000, 2, 50000},
        {"Resonance", "Filter resonance", -100, 100, 0, 0},
        {"A very long title of forty characters!!", "Mode", 0, 1, 0, 1},
    };
    const machine_parameter* pointers[3] = {&params[0], &params[1], &params[2]};
    machine_description description{11,
                                    3,
                                    3,
                                    pointers,
                                    "Kestrune Fault Injection Synth",
                                    "Fault injection label",
                                    "The Kestrune developers, all of them",
                                    "Open the machine's own editor...",
                                    4};
};

const char path[] = "/gear/Psycle/some/deep/folder/fault_injection_synth.dll";

// One conversion with allocation k failed (-1: none). Answers the result, the allocations it
// asked for, and the blocks it left live (its own, when it answers non-null).
struct attempt {
    machine_info* info;
    long made;
    long left_live;
};

attempt build_failing_at(const machine_description& d, long k) {
    const long before = log_.live;
    log_.made = 0;
    log_.fail_at = k;
    log_.armed = true;
    machine_info* info = build_machine_info(d, path, nullptr);
    log_.armed = false;
    return attempt{info, log_.made, log_.live - before};
}

// Destroys a description and answers how many blocks that freed.
long destroy(machine_info* info) {
    const long before = log_.live;
    delete info;
    return before - log_.live;
}

TEST(machine_info_out_of_memory, every_allocation_failing_gives_null_and_leaks_nothing) {
    const big_machine m;
    const attempt whole = build_failing_at(m.description, -1);
    ASSERT_NE(whole.info, nullptr);
    // The info, six texts and their growth, the records, two lists, five parameters.
    EXPECT_GE(whole.made, 14);
    EXPECT_GT(whole.left_live, 0);
    // The destructor frees every block the conversion left.
    EXPECT_EQ(destroy(whole.info), whole.left_live);

    for (long k = 0; k <= whole.made; ++k) {
        const attempt a = build_failing_at(m.description, k);
        if (k < whole.made) {
            EXPECT_EQ(a.info, nullptr) << k;
            EXPECT_EQ(a.left_live, 0) << k;
            delete a.info;
            continue;
        }
        ASSERT_NE(a.info, nullptr);
        EXPECT_EQ(a.made, whole.made);
        EXPECT_EQ(a.info->global_params().size(), 3u);
        EXPECT_EQ(a.info->track_params().size(), 2u);
        EXPECT_STREQ(a.info->identity_uri, "@kestrune.org/quillon/Kestrune+Fault+Injection+Synth");
        EXPECT_STREQ(a.info->global_params()[2]->title, "A very long title of forty char");
        EXPECT_EQ(destroy(a.info), a.left_live);
    }
}

TEST(machine_info_out_of_memory, effect_without_parameters) {
    big_machine m;
    m.description.kind_flags = 0;
    m.description.param_count = 0;
    const attempt whole = build_failing_at(m.description, -1);
    ASSERT_NE(whole.info, nullptr);
    EXPECT_EQ(destroy(whole.info), whole.left_live);
    for (long k = 0; k < whole.made; ++k) {
        const attempt a = build_failing_at(m.description, k);
        EXPECT_EQ(a.info, nullptr) << k;
        EXPECT_EQ(a.left_live, 0) << k;
    }
}

} // namespace
} // namespace kestrune
