// render over a machine that does nothing, next to the least that any wrapper must do for the
// same block: scale in to 32768, scale back to 1.0 and tell sound from silence (ideal_kernel).
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench/bench_support.h"
#include "bench/ideal_kernel.h"

namespace kestrune::bench {
namespace {

constexpr int block_sizes[] = {1, 64, 256, 1024, 4096};

struct stereo_block {
    explicit stereo_block(int count)
        : in_left(count), in_right(count), out_left(count), out_right(count) {
        for (int k = 0; k < count; ++k) {
            in_left[static_cast<std::size_t>(k)] = 0.5f * std::sin(0.01f * static_cast<float>(k));
            in_right[static_cast<std::size_t>(k)] = 0.5f * std::cos(0.01f * static_cast<float>(k));
        }
        inputs[0] = in_left.data();
        inputs[1] = in_right.data();
        outputs[0] = out_left.data();
        outputs[1] = out_right.data();
    }
    std::vector<float> in_left, in_right, out_left, out_right;
    float* inputs[2];
    float* outputs[2];
};

void render_kestrune(benchmark::State& state) {
    quiet_instance quiet(state);
    if (quiet.plugin == nullptr) {
        return;
    }
    const int count = static_cast<int>(state.range(0));
    stereo_block block(count);
    for (auto _ : state) {
        bool sound = quiet.plugin->render(block.inputs, block.outputs, count, 3);
        benchmark::DoNotOptimize(sound);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

template <bool (*kernel)(const float*, const float*, float*, float*, int)>
void render_ideal(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    stereo_block block(count);
    for (auto _ : state) {
        bool sound = kernel(block.in_left.data(), block.in_right.data(), block.out_left.data(),
                            block.out_right.data(), count);
        benchmark::DoNotOptimize(sound);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// Each the median of five repetitions: one run on a shared machine can be far off.
[[maybe_unused]] const bool registered = [] {
    for (int size : block_sizes) {
        for (auto* run :
             {benchmark::RegisterBenchmark("render/kestrune", render_kestrune),
              benchmark::RegisterBenchmark("render/ideal_fused", render_ideal<ideal_render>),
              benchmark::RegisterBenchmark("render/ideal_channels",
                                           render_ideal<ideal_render_channels>)}) {
            run->Arg(size)->Repetitions(5)->ReportAggregatesOnly(true);
        }
    }
    return true;
}();

} // namespace
} // namespace kestrune::bench
