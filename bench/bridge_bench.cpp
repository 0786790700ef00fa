// What running a machine in a bridge process costs a render: the quiet machine at 256 samples,
// in process and isolated (kestrune-bridge beside the benchmark program). Real time, since the
// bridge's share of the work is done by another process. Back to back the bridge is still
// spinning when the next block comes; "after_pause" renders a block every millisecond, as a host
// does, so the bridge has gone to sleep on its channel and must be woken (only the render is
// timed).
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "runtime/machine_plugin.h"

namespace kestrune::bench {
namespace {

constexpr int samples = 256;

// The quiet machine started as setting says; null, with the benchmark told, when it can't be.
struct setup {
    setup(benchmark::State& state, isolation_mode mode) : setting(mode) {
        info = describe_quiet_machine();
        if (info == nullptr) {
            state.SkipWithError("the quiet machine can't be described");
            return;
        }
        info->isolation = &setting;
        started = std::make_unique<started_instance>(*info);
        auto* plugin = static_cast<machine_plugin*>(started->plugin);
        if (plugin == nullptr || (mode == isolation_mode::always && !plugin->isolated())) {
            state.SkipWithError("the quiet machine can't be started as asked");
            return;
        }
        instance = plugin;
    }
    isolation_setting setting;
    std::unique_ptr<machine_info> info;
    std::unique_ptr<started_instance> started;
    machine_plugin* instance = nullptr;
};

template <isolation_mode mode>
void render_back_to_back(benchmark::State& state) {
    setup quiet(state, mode);
    if (quiet.instance == nullptr) {
        return;
    }
    render_buffers block(samples);
    for (auto _ : state) {
        bool sound = block.render(*quiet.instance);
        benchmark::DoNotOptimize(sound);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * samples);
}

void render_after_pause(benchmark::State& state) {
    setup quiet(state, isolation_mode::always);
    if (quiet.instance == nullptr) {
        return;
    }
    render_buffers block(samples);
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        auto begun = std::chrono::steady_clock::now();
        bool sound = block.render(*quiet.instance);
        auto ended = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(sound);
        state.SetIterationTime(std::chrono::duration<double>(ended - begun).count());
    }
}

BENCHMARK(render_back_to_back<isolation_mode::never>)
    ->Name("bridge_render/in_process/256")
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(render_back_to_back<isolation_mode::always>)
    ->Name("bridge_render/isolated/256")
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(render_after_pause)
    ->Name("bridge_render/isolated_after_pause/256")
    ->UseManualTime()
    ->Iterations(2000)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
} // namespace kestrune::bench
