// render and take_events run on the host's audio thread: neither may allocate. Every
// allocation of the program is counted while a case is armed: operator new in all builds, and
// natively malloc, calloc and realloc too (not under the sanitizers, which own those).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "machine/machine_info.h"
#include "platform/module.h"
#include "runtime/machine_plugin.h"
#include "tests/support/test_paths.h"

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
#define COUNT_MALLOC 1
#else
#define COUNT_MALLOC 0
#endif

#if COUNT_MALLOC
// glibc's own allocator under its internal names; everything else (free, memalign) stays glibc's.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* block, std::size_t size);
#endif

namespace {

bool armed = false;
long allocations = 0;

void note_allocation() {
    if (armed) {
        ++allocations;
    }
}

// A block for operator new, counted once: not a second time as a malloc.
void* uncounted_malloc(std::size_t size) {
#if COUNT_MALLOC
    return __libc_malloc(size != 0 ? size : 1);
#else
    return std::malloc(size != 0 ? size : 1);
#endif
}

void* allocate(std::size_t size) {
    note_allocation();
    void* block = uncounted_malloc(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

} // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    note_allocation();
    return uncounted_malloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    note_allocation();
    return uncounted_malloc(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}

#if COUNT_MALLOC
extern "C" void* malloc(std::size_t size) {
    note_allocation();
    return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) {
    note_allocation();
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, std::size_t size) {
    note_allocation();
    return __libc_realloc(block, size);
}
#endif

namespace kestrune::test {
namespace {

// Counts the allocations made while it lives.
struct counted {
    counted() {
        allocations = 0;
        armed = true;
    }
    ~counted() { armed = false; }
    long made() const { return allocations; }
};

// The quiet machine (64 word parameters, a generator that does nothing), described as the scan
// would describe it, and a started instance of it.
class Allocations : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = fixture_path("quiet_machine.dll");
        library = platform::load_library(path.c_str());
        ASSERT_NE(library, nullptr) << path;
        auto get_info =
            reinterpret_cast<get_info_function>(platform::find_export(library, get_info_export));
        ASSERT_NE(get_info, nullptr);
        info.reset(build_machine_info(*get_info(), path.c_str(), make_machine_plugin));
        ASSERT_NE(info, nullptr);
        ASSERT_EQ(info->global_params().size(), 64u);
        plugin = info->make_instance();
        ASSERT_NE(plugin, nullptr);
        plugin->master_info = &master;
        plugin->start(nullptr);
        plugin->set_tracks(32);
    }
    void TearDown() override {
        if (plugin != nullptr) {
            plugin->release();
        }
        info.reset();
        platform::free_library(library);
    }

    platform::module_handle library = nullptr;
    std::unique_ptr<machine_info> info;
    host_plugin* plugin = nullptr;
    host_master_info master{125, 4, 44100, 5292};
};

TEST_F(Allocations, TheCounterSeesEveryKindOfAllocation) {
    counted count;
    int* volatile object = new int(1);
    delete object;
    EXPECT_EQ(count.made(), 1);
#if COUNT_MALLOC
    void* volatile block = std::malloc(16);
    std::free(block);
    EXPECT_EQ(count.made(), 2);
#endif
}

TEST_F(Allocations, RenderMakesNoneAtAnyBlockSize) {
    std::vector<float> in_left(4096, 0.25f), in_right(4096, -0.25f);
    std::vector<float> out_left(4096), out_right(4096);
    float* inputs[2] = {in_left.data(), in_right.data()};
    float* outputs[2] = {out_left.data(), out_right.data()};
    counted count;
    for (int size : {1, 64, 256, 1024, 4096}) {
        EXPECT_TRUE(plugin->render(inputs, outputs, size, 3));  // from the inputs
        EXPECT_TRUE(plugin->render(outputs, outputs, size, 3)); // in place
        plugin->render(nullptr, outputs, size, 3);              // no inputs: silence
        EXPECT_EQ(count.made(), 0) << "block of " << size;
    }
}

TEST_F(Allocations, TakeEventsMakesNoneWithEveryValueChangedAndNotesOnEveryTrack) {
    for (int i = 0; i < 64; ++i) {
        plugin->global_values[2 * i] = static_cast<unsigned char>(i);
        plugin->global_values[2 * i + 1] = 0x40;
    }
    for (int t = 0; t < 32; ++t) {
        unsigned char* record = plugin->track_values + 3 * t;
        record[0] =
            t % 4 == 3 ? 0xFF : static_cast<unsigned char>(0x41 + t % 3); // notes, note-offs
        record[1] = 0x40;
        record[2] = 0x0C;
    }
    counted count;
    for (int round = 0; round < 3; ++round) {
        plugin->take_events();
    }
    EXPECT_EQ(count.made(), 0);
}

TEST_F(Allocations, ValueTextMakesNone) {
    counted count;
    for (int index = 0; index < 66; ++index) {
        EXPECT_NE(plugin->value_text(index, 0x1234), nullptr);
    }
    EXPECT_EQ(count.made(), 0);
}

// The same over the machine in a bridge process of its own: the host's side of render,
// take_events and value_text allocates nothing either (a render larger than the shared block
// grows the block, which is no heap allocation).
TEST_F(Allocations, IsolatedTheHostsSideMakesNone) {
    isolation_setting always{isolation_mode::always};
    info->isolation = &always;
    host_plugin* isolated = info->make_instance();
    ASSERT_NE(isolated, nullptr);
    isolated->master_info = &master;
    isolated->start(nullptr);
    isolated->set_tracks(32);
    EXPECT_TRUE(static_cast<machine_plugin*>(isolated)->isolated());
    std::vector<float> in_left(16384, 0.25f), in_right(16384, -0.25f);
    std::vector<float> out_left(16384), out_right(16384);
    float* inputs[2] = {in_left.data(), in_right.data()};
    float* outputs[2] = {out_left.data(), out_right.data()};
    std::memset(isolated->global_values, 0, 128);
    std::memset(isolated->track_values, 0x41, 96);
    {
        counted count;
        for (int size : {1, 64, 256, 1024, 4096, 16384}) {
            EXPECT_TRUE(isolated->render(inputs, outputs, size, 3));
            EXPECT_EQ(count.made(), 0) << "block of " << size;
        }
        isolated->take_events();
        EXPECT_NE(isolated->value_text(3, 0x1234), nullptr);
        EXPECT_EQ(count.made(), 0);
    }
    isolated->release();
}

} // namespace
} // namespace kestrune::test
