// render over the quiet machine at blocks of 1 to 4096 samples, next to the ideal kernel (the
// faster of its two shapes), and take_events with 64 changed words and notes on 32 tracks.
// Each row is the median of several rounds; a round repeats the call for 200 ms of this thread's
// CPU time.
#include "bench/product_timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "bench/bench_support.h"
#include "bench/ideal_kernel.h"
#include "runtime/audio.h"

namespace kestrune::bench {
namespace {

constexpr int block_sizes[] = {1, 64, 256, 1024, 4096};
constexpr int tracks = 32;

// Kept where the compiler can't see through it, so that no call is folded away.
volatile unsigned sink = 0;

// This thread's CPU time in nanoseconds: the machine is shared, and wall time would count the
// other programs' turns. Under Wine it advances in steps of 10 ms, so a round lasts 200 ms.
double thread_cpu_nanoseconds() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user)) {
        return 0.0;
    }
    auto ticks = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) * 100.0;
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
#endif
}

constexpr double round_nanoseconds = 200e6;

// The CPU nanoseconds per call of call(), made in batches of batch calls until
// round_nanoseconds have gone by.
template <class Call>
double one_round(long batch, Call call) {
    unsigned heard = 0;
    long calls = 0;
    const double start = thread_cpu_nanoseconds();
    double spent = 0.0;
    do {
        for (long i = 0; i < batch; ++i) {
            heard += call() ? 1u : 0u;
        }
        calls += batch;
        spent = thread_cpu_nanoseconds() - start;
    } while (spent < round_nanoseconds);
    sink = sink + heard;
    return spent / static_cast<double>(calls);
}

struct stereo_block {
    explicit stereo_block(int count)
        : in_left(static_cast<std::size_t>(count)), in_right(in_left.size()),
          out_left(in_left.size()), out_right(in_left.size()) {
        for (std::size_t k = 0; k < in_left.size(); ++k) {
            in_left[k] = 0.5f * std::sin(0.01f * static_cast<float>(k));
            in_right[k] = 0.5f * std::cos(0.01f * static_cast<float>(k));
        }
    }
    std::vector<float> in_left, in_right, out_left, out_right;
    float* inputs[2] = {in_left.data(), in_right.data()};
    float* outputs[2] = {out_left.data(), out_right.data()};
};

void print_row(const char* label, double ours, double ideal) {
    if (ideal > 0.0) {
        std::printf("%-44s %10.1f ns %10.1f ns %6.2f\n", label, ours, ideal, ours / ideal);
    } else {
        std::printf("%-44s %10.1f ns\n", label, ours);
    }
}

void time_render(host_plugin* plugin, int rounds) {
    for (int count : block_sizes) {
        stereo_block block(count);
        const long calls = 1000000L / (count + 31); // a batch: about a millisecond
        // The four take turns round by round, so that a change in the machine's load falls on
        // all of them alike.
        std::vector<double> ours_rounds, fused_rounds, channels_rounds, kernels_rounds;
        for (int round = 0; round < rounds; ++round) {
            ours_rounds.push_back(one_round(
                calls, [&] { return plugin->render(block.inputs, block.outputs, count, 3); }));
            fused_rounds.push_back(one_round(calls, [&] {
                return ideal_render(block.inputs[0], block.inputs[1], block.outputs[0],
                                    block.outputs[1], count);
            }));
            channels_rounds.push_back(one_round(calls, [&] {
                return ideal_render_channels(block.inputs[0], block.inputs[1], block.outputs[0],
                                             block.outputs[1], count);
            }));
            // render's own scaling without the machine call: what the call and the guard cost.
            kernels_rounds.push_back(one_round(calls, [&] {
                scale_to_machine(block.inputs[0], block.inputs[1], block.outputs[0],
                                 block.outputs[1], count);
                return scale_to_host(block.outputs[0], block.outputs[1], count);
            }));
        }
        const double ours = median_of(ours_rounds);
        const double kernels = median_of(kernels_rounds);
        const double fused = median_of(fused_rounds);
        const double channels = median_of(channels_rounds);
        const double ideal = std::min(fused, channels);
        char label[64];
        std::snprintf(label, sizeof label, "render, block of %d", count);
        print_row(label, ours, ideal);
        std::snprintf(label, sizeof label, "  its scaling alone, block of %d", count);
        print_row(label, kernels, ideal);
    }
}

// Every word parameter changed (in range, not empty) and a note with a command on each of the
// 32 tracks. Take_events leaves the areas as they are, so each call sends all of them again.
void time_take_events(host_plugin* plugin, int globals, int rounds) {
    plugin->set_tracks(tracks);
    for (int i = 0; i < globals; ++i) {
        const int value = 1000 + 997 * i;
        plugin->global_values[2 * i] = static_cast<unsigned char>(value & 255);
        plugin->global_values[2 * i + 1] = static_cast<unsigned char>(value >> 8);
    }
    for (int t = 0; t < tracks; ++t) {
        unsigned char* record = plugin->track_values + 3 * t;
        record[0] = static_cast<unsigned char>(0x41 + (t % 8));
        record[1] = 0x40; // command word 0x0C40
        record[2] = 0x0C;
    }
    std::vector<double> per_call;
    for (int round = 0; round < rounds; ++round) {
        per_call.push_back(one_round(1000, [&] {
            plugin->take_events();
            return true;
        }));
    }
    const double ours = median_of(per_call);
    char label[64];
    std::snprintf(label, sizeof label, "take_events, %d changed words, %d tracks", globals, tracks);
    print_row(label, ours, 0.0);
}

} // namespace

bool print_product_timings(int rounds) {
    std::unique_ptr<machine_info> info = describe_quiet_machine();
    if (!info) {
        std::fprintf(stderr, "kestrune_timing: the quiet machine can't be read\n");
        return false;
    }
    started_instance started(*info);
    host_plugin* plugin = started.plugin;
    if (plugin == nullptr || plugin->global_values == nullptr || plugin->track_values == nullptr) {
        std::fprintf(stderr, "kestrune_timing: the quiet machine doesn't start\n");
        return false;
    }
    std::printf("%-44s %13s %13s %6s\n", "operation (median of rounds)", "Kestrune", "ideal",
                "ratio");
    time_render(plugin, rounds);
    time_take_events(plugin, static_cast<int>(info->global_params().size()), rounds);
    return true;
}

double median_of(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace kestrune::bench
