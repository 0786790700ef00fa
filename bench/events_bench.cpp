// take_events with every one of the quiet machine's 64 word parameters changed and a note on
// each of 32 tracks, and value_text for a global and a track parameter.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/bench_support.h"

namespace kestrune::bench {
namespace {

constexpr int tracks = 32;

void take_events(benchmark::State& state) {
    quiet_instance quiet(state);
    host_plugin* plugin = quiet.plugin;
    if (plugin == nullptr) {
        return;
    }
    if (plugin->global_values == nullptr || plugin->track_values == nullptr) {
        state.SkipWithError("no value areas");
        return;
    }
    plugin->set_tracks(tracks);
    const int globals = static_cast<int>(quiet.info->global_params().size());
    for (int i = 0; i < globals; ++i) {
        const int value = 1000 + 997 * i; // every one of them in range and not empty
        plugin->global_values[2 * i] = static_cast<unsigned char>(value & 255);
        plugin->global_values[2 * i + 1] = static_cast<unsigned char>(value >> 8);
    }
    for (int t = 0; t < tracks; ++t) {
        unsigned char* record = plugin->track_values + 3 * t;
        record[0] = static_cast<unsigned char>(0x41 + (t % 8)); // a note
        record[1] = 0x40;                                       // command word 0x0C40
        record[2] = 0x0C;
    }
    for (auto _ : state) {
        plugin->take_events();
        benchmark::ClobberMemory();
    }
    state.counters["globals"] = globals;
    state.counters["tracks"] = tracks;
}

void value_text(benchmark::State& state) {
    quiet_instance quiet(state);
    if (quiet.plugin == nullptr) {
        return;
    }
    // Argument 0: a global parameter (the machine answers no text, so the number is printed);
    // 1: the first track parameter (two hexadecimal bytes).
    const int index =
        state.range(0) == 0 ? 7 : static_cast<int>(quiet.info->global_params().size());
    int value = 0;
    for (auto _ : state) {
        const char* text = quiet.plugin->value_text(index, value);
        benchmark::DoNotOptimize(text);
        value = (value + 4099) & 0x7fff;
    }
}

[[maybe_unused]] const bool registered = [] {
    benchmark::RegisterBenchmark("take_events", take_events);
    benchmark::RegisterBenchmark("value_text/global", value_text)->Arg(0);
    benchmark::RegisterBenchmark("value_text/track", value_text)->Arg(1);
    return true;
}();

} // namespace
} // namespace kestrune::bench
