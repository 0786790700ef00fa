// A render through the bridge, for kestrune_timing on both builds: the quiet machine at 256
// samples in process and isolated, in wall time (the bridge's share of the work is done by
// another process, and under Wine the thread's CPU time moves in 10 ms steps). Back to back
// the bridge is still spinning when the next block comes; "after a pause" renders a block
// every millisecond, as a host does, so that the bridge has gone to sleep and must be woken.
#include "bench/bridge_timing.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "bench/product_timing.h"
#include "platform/process.h"
#include "runtime/machine_plugin.h"

namespace kestrune::bench {
namespace {

constexpr int samples = 256;
constexpr int back_to_back_calls = 2000; // a round
constexpr int paused_calls = 200;        // a round, each after a pause of a millisecond

// The median wall-clock microseconds of one render, back to back or after a pause.
double microseconds_per_render(host_plugin& plugin, int rounds, bool paused) {
    render_buffers block(samples);
    std::vector<double> per_round;
    for (int round = 0; round < rounds; ++round) {
        if (!paused) {
            unsigned long long begun = platform::monotonic_microseconds();
            for (int i = 0; i < back_to_back_calls; ++i) {
                block.render(plugin);
            }
            per_round.push_back(static_cast<double>(platform::monotonic_microseconds() - begun) /
                                back_to_back_calls);
            continue;
        }
        std::vector<double> each;
        for (int i = 0; i < paused_calls; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            unsigned long long begun = platform::monotonic_microseconds();
            block.render(plugin);
            each.push_back(static_cast<double>(platform::monotonic_microseconds() - begun));
        }
        per_round.push_back(median_of(each));
    }
    return median_of(per_round);
}

} // namespace

bool print_bridge_timings(int rounds) {
    std::unique_ptr<machine_info> info = describe_quiet_machine();
    if (!info) {
        std::fprintf(stderr, "kestrune_timing: the quiet machine can't be read\n");
        return false;
    }
    isolation_setting in_process{isolation_mode::never}, isolated{isolation_mode::always};
    info->isolation = &in_process;
    started_instance local(*info);
    info->isolation = &isolated;
    started_instance bridged(*info);
    auto* own = static_cast<machine_plugin*>(bridged.plugin);
    if (local.plugin == nullptr || own == nullptr || !own->isolated()) {
        std::fprintf(stderr, "kestrune_timing: the quiet machine doesn't start isolated\n");
        return false;
    }
    std::printf("render of %d samples, wall time (median of rounds)\n", samples);
    std::printf("  in process                       %9.2f us\n",
                microseconds_per_render(*local.plugin, rounds, false));
    std::printf("  isolated, back to back           %9.2f us\n",
                microseconds_per_render(*own, rounds, false));
    std::printf("  isolated, after a 1 ms pause     %9.2f us\n",
                microseconds_per_render(*own, rounds, true));
    return true;
}

} // namespace kestrune::bench
