// render: one instance of one machine, driven tick by tick the way a host plays a song, its
// output written to a WAV file.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "commands.h"
#include "hostkit/memory_archive.h"
#include "progress.h"
#include "render_job.h"
#include "system.h"
#include "value_areas.h"

namespace kestrune_host {

namespace {

constexpr int render_output = 2; // mode bit: the host wants output
constexpr int render_input = 1;  // mode bit: the host hands input

std::string level_text(float peak) {
    if (!(peak > 0.0f)) {
        return "silent";
    }
    char text[48];
    std::snprintf(text, sizeof text, "peak %.1f dBFS", 20.0 * std::log10(peak));
    return text;
}

// The outputs can be written: found out before the machine runs.
int open_outputs(const render_options& o, const render_job& job, wav_writer& writer) {
    std::string error;
    if (!o.state_out.empty() && !can_write(o.state_out, error)) {
        return report(exit_failed, error);
    }
    if (!writer.open(o.output, job.song.samples_per_second, o.format, error)) {
        return report(exit_failed, error);
    }
    return 0;
}

kestrune::host_master_info master_info_of(const render_job& job) {
    kestrune::host_master_info master{};
    master.beats_per_minute = job.song.beats_per_minute;
    master.ticks_per_beat = job.song.ticks_per_beat;
    master.samples_per_second = job.song.samples_per_second;
    master.samples_per_tick = job.plan.samples_per_tick;
    return master;
}

// Starts the instance, restoring the state when there is one, then reads the machine's own
// values (which need its texts) and sets a generator's tracks.
int start_machine(const render_options& o, render_job& job, instance& live,
                  hostkit::memory_archive& archive) {
    if (job.restored) {
        archive.entries[""] = job.restored->stream;
    }
    std::string error;
    if (!live.start(job.restored ? &archive : nullptr, error)) {
        return report(exit_failed, error);
    }
    kestrune::host_plugin& plugin = *live.plugin();
    for (const std::string& text : o.machine_settings) {
        auto one = machine_setting(plugin, *job.info, text, o.quiet, error);
        if (!one) {
            return report(exit_usage, error);
        }
        job.settings.push_back(*one);
    }
    if (job.generator) {
        plugin.set_tracks(job.tracks);
    }
    return 0;
}

// One tick's value areas, then take_events: the settings on the first tick, the plan's notes.
void write_tick(const render_job& job, kestrune::host_plugin& plugin, long long tick) {
    const auto& params = job.info->global_params();
    write_empty_globals(params, plugin.global_values);
    if (tick == 0) {
        for (const setting& one : job.settings) {
            write_global(params, one.index, one.host_value, plugin.global_values);
        }
    }
    if (job.generator) {
        clear_tracks(plugin.track_values, job.tracks);
        auto events = job.plan.events.find(tick);
        if (events != job.plan.events.end()) {
            for (const track_event& e : events->second) {
                write_track(plugin.track_values, e.track, e.note, e.command);
            }
        }
    }
    plugin.take_events();
}

// The host's buffers for one block: the input it hands, the output it gets.
struct block_buffers {
    explicit block_buffers(int block)
        : size(block), in_left(static_cast<std::size_t>(block)),
          in_right(static_cast<std::size_t>(block)), out_left(static_cast<std::size_t>(block)),
          out_right(static_cast<std::size_t>(block)) {}

    block_buffers(const block_buffers&) = delete; // the pointers point into this one's vectors
    block_buffers& operator=(const block_buffers&) = delete;

    int size;
    std::vector<float> in_left, in_right, out_left, out_right;
    float* inputs[2] = {in_left.data(), in_right.data()};
    float* outputs[2] = {out_left.data(), out_right.data()};
};

// Renders samples from..from + count - 1 into the output buffers, the input's samples (silence
// past its end, or without one) in the input buffers.
void render_block(const render_job& job, kestrune::host_plugin& plugin, block_buffers& b,
                  long long from, int count) {
    for (int k = 0; k < count; ++k) {
        auto at = static_cast<std::size_t>(from + k);
        bool have = job.input && at < job.input->left.size();
        b.in_left[static_cast<std::size_t>(k)] = have ? job.input->left[at] : 0.0f;
        b.in_right[static_cast<std::size_t>(k)] = have ? job.input->right[at] : 0.0f;
    }
    int mode = render_output | (job.input ? render_input : 0);
    if (!plugin.render(b.inputs, b.outputs, count, mode)) {
        // No sound: what the buffers hold doesn't count.
        std::fill(b.out_left.begin(), b.out_left.begin() + count, 0.0f);
        std::fill(b.out_right.begin(), b.out_right.begin() + count, 0.0f);
    }
}

// The song: on each tick the host writes both value areas and calls take_events, then renders
// the tick in blocks, each written to the WAV file.
int play(const render_options& o, const render_job& job, kestrune::host_plugin& plugin,
         wav_writer& writer) {
    const long long total = job.plan.total_samples;
    block_buffers buffers(std::max(1, o.block));
    progress_bar bar(stderr, o.progress && !o.quiet && stderr_is_terminal(), total,
                     job.song.samples_per_second);
    std::string error;
    long long done = 0;
    for (long long tick = 0; done < total; ++tick) {
        write_tick(job, plugin, tick);
        long long tick_end = std::min(total, done + job.plan.samples_per_tick);
        while (done < tick_end) {
            int count = static_cast<int>(std::min<long long>(buffers.size, tick_end - done));
            render_block(job, plugin, buffers, done, count);
            if (!writer.write(buffers.outputs[0], buffers.outputs[1], count, error)) {
                writer.discard();
                return report(exit_failed, error);
            }
            done += count;
            bar.update(done);
        }
    }
    bar.finish();
    return 0;
}

int close_output(wav_writer& writer) {
    std::string error;
    return writer.close(error) ? 0 : report(exit_failed, error);
}

// --store-state: the instance's state, in a file that names its machine.
int store_state_file(const render_options& o, const render_job& job, kestrune::host_plugin& plugin,
                     hostkit::memory_archive& archive) {
    if (o.state_out.empty()) {
        return 0;
    }
    plugin.store_state(&archive);
    stored_state state;
    state.machine_uri = job.info->identity_uri != nullptr ? job.info->identity_uri : "";
    auto entry = archive.entries.find("");
    if (entry != archive.entries.end()) {
        state.stream = entry->second;
    }
    std::string error;
    if (!write_file(o.state_out, encode_state(state), error)) {
        return report(exit_failed, error);
    }
    return 0;
}

void print_summary(const render_options& o, const render_job& job, float peak) {
    if (o.quiet) {
        return;
    }
    std::string name = quoted_name(*job.info);
    int rate = job.song.samples_per_second;
    std::printf("%s: %s s of %s at %d Hz, %s\n", o.output.c_str(),
                seconds_text(static_cast<double>(job.plan.total_samples) / rate).c_str(),
                name.c_str(), rate, level_text(peak).c_str());
    if (!o.state_out.empty()) {
        std::printf("%s: the state of %s\n", o.state_out.c_str(), name.c_str());
    }
}

} // namespace

int run_render(session& s, const render_options& o) {
    render_job job;
    if (int code = plan_render(s, o, job)) {
        return code;
    }
    wav_writer writer;
    if (int code = open_outputs(o, job, writer)) {
        return code;
    }
    hostkit::memory_archive archive;
    instance live(*job.info, master_info_of(job));
    if (int code = start_machine(o, job, live, archive)) {
        return code;
    }
    if (int code = play(o, job, *live.plugin(), writer)) {
        return code;
    }
    float peak = writer.peak();
    if (int code = close_output(writer)) {
        return code;
    }
    if (int code = store_state_file(o, job, *live.plugin(), archive)) {
        return code;
    }
    print_summary(o, job, peak);
    return 0;
}

} // namespace kestrune_host
