// A host may run different instances on different threads at once. Instances of one machine,
// each started, driven and released on its own thread while the others run, share nothing:
// under ThreadSanitizer (scripts/quality) any shared write between them would be reported.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "tests/runtime/runtime_support.h"
#include "tests/support/test_paths.h"

namespace kestrune::test {
namespace {

constexpr int thread_count = 4;
constexpr int rounds = 25;
constexpr int block = 64;

// One thread's life of instances; answers the number of checks that failed, since gtest's
// assertions are for the main thread.
int run_instances(machine_info& info, int seed) {
    int failures = 0;
    host_master_info master{120 + seed, 4, 44100, 5512};
    for (int round = 0; round < rounds; ++round) {
        auto* plugin = static_cast<machine_plugin*>(info.make_instance());
        if (plugin == nullptr) {
            return failures + 1;
        }
        plugin->master_info = &master;
        plugin->start(nullptr);
        failures += plugin->loaded_machine() == nullptr ? 1 : 0;
        std::memset(plugin->global_values, seed + round, plugin->global_layout().size);
        std::memset(plugin->track_values, 0, 32 * 3);
        plugin->track_values[0] = 0x41;
        plugin->set_tracks(1 + seed);
        plugin->take_events();
        float left[block], right[block];
        for (int k = 0; k < block; ++k) {
            left[k] = right[k] = 0.25f * static_cast<float>(seed + 1);
        }
        float* outputs[2] = {left, right};
        failures += plugin->render(outputs, outputs, block, 2) ? 0 : 1;
        failures += left[block - 1] == 0.25f * static_cast<float>(seed + 1) ? 0 : 1;
        failures += std::strlen(plugin->value_text(0, 100)) > 0 ? 0 : 1;
        memory_archive archive;
        plugin->store_state(&archive);
        plugin->release();
    }
    return failures;
}

TEST(Threads, InstancesOfOneMachineRunApart) {
    std::string path = fixture_path("quiet_machine.dll");
    // The test's own reference keeps the DLL loaded, and its description read, throughout.
    platform::module_handle library = platform::load_library(path.c_str());
    ASSERT_NE(library, nullptr);
    auto get_info =
        reinterpret_cast<get_info_function>(platform::find_export(library, get_info_export));
    ASSERT_NE(get_info, nullptr);
    std::unique_ptr<machine_info> info(
        build_machine_info(*get_info(), path.c_str(), make_machine_plugin));
    ASSERT_NE(info, nullptr);

    std::vector<int> failures(thread_count, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] { failures[t] = run_instances(*info, t); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < thread_count; ++t) {
        EXPECT_EQ(failures[t], 0) << "thread " << t;
    }
    info.reset();
    platform::free_library(library);
}

} // namespace
} // namespace kestrune::test
