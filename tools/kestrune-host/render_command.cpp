// render: one instance of one machine, driven tick by tick the way a host plays a song, its
// output written to a WAV file.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "choose.h"
#include "commands.h"
#include "hostkit/memory_archive.h"
#include "listing.h"
#include "progress.h"
#include "state_file.h"
#include "system.h"
#include "value_areas.h"
#include "value_lookup.h"

namespace kestrune_host {

namespace {

constexpr int render_output = 2; // mode bit: the host wants output
constexpr int render_input = 1;  // mode bit: the host hands input

std::string name_of(const kestrune::host_info& info) {
    return std::string("\"") + (info.full_name != nullptr ? info.full_name : "") + "\"";
}

struct setting {
    int index = 0;
    int host_value = 0;
};

// "--set PARAM=VALUE": a host value, checked against the host range.
bool host_setting(const kestrune::host_info& info, const std::string& text, setting& out,
                  std::string& error) {
    std::string param, value;
    if (!split_setting(text, param, value)) {
        error = "--set takes PARAM=VALUE, not \"" + text + "\"";
        return false;
    }
    auto index = choose_parameter(info, param, error);
    if (!index) {
        return false;
    }
    const kestrune::host_parameter& p = *info.global_params[static_cast<std::size_t>(*index)];
    auto number = parse_integer(value);
    int lo = std::min(p.lowest, p.highest);
    int hi = std::max(p.lowest, p.highest);
    if (!number) {
        error = "--set " + text + ": \"" + value + "\" is not a whole number (for the machine's " +
                "own values and texts, use --value)";
        return false;
    }
    if (*number < lo || *number > hi) {
        error = "--set " + text + ": parameter " + std::to_string(*index) + " (" +
                (p.title != nullptr ? p.title : "") + ") takes host values " + std::to_string(lo) +
                " to " + std::to_string(hi);
        return false;
    }
    out = setting{*index, static_cast<int>(*number)};
    return true;
}

// "--value PARAM=VALUE": the machine's own value or text, found among the host values' texts.
bool machine_setting(kestrune::host_plugin& plugin, const kestrune::host_info& info,
                     const std::string& text, bool quiet, setting& out, std::string& error) {
    std::string param, value;
    if (!split_setting(text, param, value)) {
        error = "--value takes PARAM=VALUE, not \"" + text + "\"";
        return false;
    }
    auto index = choose_parameter(info, param, error);
    if (!index) {
        return false;
    }
    const kestrune::host_parameter& p = *info.global_params[static_cast<std::size_t>(*index)];
    auto text_of = [&plugin, i = *index](int v) {
        const char* t = plugin.value_text(i, v);
        return std::string(t != nullptr ? t : "");
    };
    std::string examples;
    auto match = find_value(p.lowest, p.highest, text_of, value, examples);
    if (!match) {
        error = "--value " + text + ": parameter " + std::to_string(*index) + " (" +
                (p.title != nullptr ? p.title : "") + ") has no value \"" + value +
                "\"; its values read " + examples;
        return false;
    }
    if (!match->exact && !quiet) {
        warn("--value " + text + ": the nearest value is \"" + match->text + "\" (host value " +
             std::to_string(match->host_value) + ")");
    }
    out = setting{*index, match->host_value};
    return true;
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

std::string level_text(float peak) {
    if (!(peak > 0.0f)) {
        return "silent";
    }
    char text[48];
    std::snprintf(text, sizeof text, "peak %.1f dBFS", 20.0 * std::log10(peak));
    return text;
}

} // namespace

int run_render(session& s, const render_options& o) {
    std::string error;

    // The state to restore, which may also name the machine.
    std::optional<stored_state> restored;
    if (!o.state_in.empty()) {
        auto content = read_file(o.state_in, error);
        if (!content) {
            return report(exit_failed, error);
        }
        restored = decode_state(*content, error);
        if (!restored) {
            return report(exit_failed, "the state file " + o.state_in + " is damaged: " + error);
        }
    }
    std::string wanted = o.machine;
    if (wanted.empty()) {
        if (!restored) {
            return report(exit_usage, "render needs a machine, or a --state file that names one");
        }
        wanted = restored->machine_uri;
    }
    auto chosen = choose_machine(s.machines(), wanted, error);
    if (!chosen) {
        return report(exit_failed, error);
    }
    kestrune::host_info& info = *s.machines()[*chosen];
    if (restored && info.identity_uri != nullptr && restored->machine_uri != info.identity_uri) {
        return report(exit_failed, "the state file " + o.state_in + " belongs to " +
                                       restored->machine_uri + ", not to " + name_of(info));
    }
    bool generator = !info.track_params.empty();

    // What is played: the input, the notes and the tracks they need.
    std::optional<stereo_sound> input;
    if (!o.input.empty()) {
        if (generator) {
            return report(exit_usage, name_of(info) + " is a generator: it takes no --input");
        }
        input = read_sound(o.input, error);
        if (!input) {
            return report(exit_failed, error);
        }
    } else if (!generator) {
        return report(exit_usage, name_of(info) + " is an effect: give it an --input WAV file");
    }
    if (!generator && !o.notes.empty()) {
        return report(exit_usage, name_of(info) + " is an effect: it plays no notes");
    }
    int highest_track = -1;
    for (const note_request& n : o.notes) {
        if (n.track < 0 || n.track >= std::max(info.most_tracks, 1)) {
            return report(exit_usage, "track " + std::to_string(n.track) + " is out of range: " +
                                          name_of(info) + " has tracks 0 to " +
                                          std::to_string(info.most_tracks - 1));
        }
        highest_track = std::max(highest_track, n.track);
    }
    int tracks = 0;
    if (generator) {
        tracks = o.tracks ? *o.tracks : std::max(info.fewest_tracks, highest_track + 1);
        if (tracks < info.fewest_tracks || tracks > info.most_tracks) {
            return report(exit_usage, "--tracks " + std::to_string(tracks) + ": " + name_of(info) +
                                          " takes " + std::to_string(info.fewest_tracks) + " to " +
                                          std::to_string(info.most_tracks) + " tracks");
        }
        if (highest_track >= tracks) {
            return report(exit_usage, "a note plays on track " + std::to_string(highest_track) +
                                          ", but only " + std::to_string(tracks) +
                                          " tracks are in use");
        }
    } else if (o.tracks) {
        return report(exit_usage, name_of(info) + " is an effect: it has no tracks");
    }

    // Timing.
    timing t;
    t.beats_per_minute = o.beats_per_minute;
    t.ticks_per_beat = o.ticks_per_beat;
    t.samples_per_second = o.samples_per_second ? *o.samples_per_second
                           : input              ? input->samples_per_second
                                                : 44100;
    if (input && input->samples_per_second != t.samples_per_second) {
        return report(exit_usage,
                      o.input + " runs at " + std::to_string(input->samples_per_second) +
                          " Hz, not the --rate of " + std::to_string(t.samples_per_second) +
                          " Hz (the host doesn't resample)");
    }
    double seconds = o.seconds ? *o.seconds
                     : input   ? static_cast<double>(input->left.size()) / t.samples_per_second
                               : 2.0;
    auto total = static_cast<long long>(std::llround(seconds * t.samples_per_second));
    if (total <= 0) {
        return report(exit_usage, "nothing to render: " + seconds_text(seconds) + " seconds");
    }
    auto plan = make_plan(t, total, o.notes, error);
    if (!plan) {
        return report(exit_usage, error);
    }
    if (!o.quiet) {
        for (const std::string& w : plan->warnings) {
            warn(w);
        }
    }

    // Host values can be checked before anything runs.
    std::vector<setting> settings;
    for (const std::string& text : o.host_settings) {
        setting one;
        if (!host_setting(info, text, one, error)) {
            return report(exit_usage, error);
        }
        settings.push_back(one);
    }

    // The outputs can be written: found out before the machine runs.
    if (!o.state_out.empty() && !can_write(o.state_out, error)) {
        return report(exit_failed, error);
    }
    wav_writer writer;
    if (!writer.open(o.output, t.samples_per_second, o.format, error)) {
        return report(exit_failed, error);
    }

    hostkit::memory_archive archive;
    if (restored) {
        archive.entries[""] = restored->stream;
    }
    kestrune::host_master_info master{};
    master.beats_per_minute = t.beats_per_minute;
    master.ticks_per_beat = t.ticks_per_beat;
    master.samples_per_second = t.samples_per_second;
    master.samples_per_tick = plan->samples_per_tick;
    instance live(info, master);
    if (!live.start(restored ? &archive : nullptr, error)) {
        return report(exit_failed, error);
    }
    kestrune::host_plugin& plugin = *live.plugin();
    for (const std::string& text : o.machine_settings) {
        setting one;
        if (!machine_setting(plugin, info, text, o.quiet, one, error)) {
            return report(exit_usage, error);
        }
        settings.push_back(one);
    }
    if (generator) {
        plugin.set_tracks(tracks);
    }

    // The song: on each tick the host writes both value areas and calls take_events, then
    // renders the tick in blocks.
    const auto& params = info.global_params;
    int block = std::max(1, o.block);
    std::vector<float> in_left(static_cast<std::size_t>(block)),
        in_right(static_cast<std::size_t>(block));
    std::vector<float> out_left(static_cast<std::size_t>(block)),
        out_right(static_cast<std::size_t>(block));
    float* inputs[2] = {in_left.data(), in_right.data()};
    float* outputs[2] = {out_left.data(), out_right.data()};
    int mode = render_output | (input ? render_input : 0);
    progress_bar bar(stderr, o.progress && !o.quiet && stderr_is_terminal(), total,
                     t.samples_per_second);

    long long done = 0;
    for (long long tick = 0; done < total; ++tick) {
        write_empty_globals(params, plugin.global_values);
        if (tick == 0) {
            for (const setting& one : settings) {
                write_global(params, one.index, one.host_value, plugin.global_values);
            }
        }
        if (generator) {
            clear_tracks(plugin.track_values, tracks);
            auto events = plan->events.find(tick);
            if (events != plan->events.end()) {
                for (const track_event& e : events->second) {
                    write_track(plugin.track_values, e.track, e.note, e.command);
                }
            }
        }
        plugin.take_events();

        long long tick_end = std::min(total, done + plan->samples_per_tick);
        while (done < tick_end) {
            int count = static_cast<int>(std::min<long long>(block, tick_end - done));
            for (int k = 0; k < count; ++k) {
                auto at = static_cast<std::size_t>(done + k);
                bool have = input && at < input->left.size();
                in_left[static_cast<std::size_t>(k)] = have ? input->left[at] : 0.0f;
                in_right[static_cast<std::size_t>(k)] = have ? input->right[at] : 0.0f;
            }
            if (!plugin.render(inputs, outputs, count, mode)) {
                // No sound: what the buffers hold doesn't count.
                std::fill(out_left.begin(), out_left.begin() + count, 0.0f);
                std::fill(out_right.begin(), out_right.begin() + count, 0.0f);
            }
            if (!writer.write(outputs[0], outputs[1], count, error)) {
                writer.discard();
                return report(exit_failed, error);
            }
            done += count;
            bar.update(done);
        }
    }
    bar.finish();
    float peak = writer.peak();
    if (!writer.close(error)) {
        return report(exit_failed, error);
    }

    if (!o.state_out.empty()) {
        plugin.store_state(&archive);
        stored_state state;
        state.machine_uri = info.identity_uri != nullptr ? info.identity_uri : "";
        auto entry = archive.entries.find("");
        if (entry != archive.entries.end()) {
            state.stream = entry->second;
        }
        if (!write_file(o.state_out, encode_state(state), error)) {
            return report(exit_failed, error);
        }
    }

    if (!o.quiet) {
        std::printf("%s: %s s of %s at %d Hz, %s\n", o.output.c_str(),
                    seconds_text(static_cast<double>(total) / t.samples_per_second).c_str(),
                    name_of(info).c_str(), t.samples_per_second, level_text(peak).c_str());
        if (!o.state_out.empty()) {
            std::printf("%s: the state of %s\n", o.state_out.c_str(), name_of(info).c_str());
        }
    }
    return 0;
}

} // namespace kestrune_host
