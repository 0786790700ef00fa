#include "render_job.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "choose.h"

namespace kestrune_host {

namespace {

// The state to restore, which may also name the machine.
int read_restored_state(const render_options& o, render_job& job) {
    if (o.state_in.empty()) {
        return 0;
    }
    std::string error;
    auto content = read_file(o.state_in, error);
    if (!content) {
        return report(exit_failed, error);
    }
    job.restored = decode_state(*content, error);
    if (!job.restored) {
        return report(exit_failed, "the state file " + o.state_in + " is damaged: " + error);
    }
    return 0;
}

// The machine named, else the one the state file belongs to; the state must be its own.
int choose_render_machine(session& s, const render_options& o, render_job& job) {
    std::string wanted = o.machine;
    if (wanted.empty()) {
        if (!job.restored) {
            return report(exit_usage, "render needs a machine, or a --state file that names one");
        }
        wanted = job.restored->machine_uri;
    }
    std::string error;
    auto chosen = choose_machine(s.machines(), wanted, error);
    if (!chosen) {
        return report(exit_failed, error);
    }
    job.info = s.machines()[*chosen];
    const kestrune::host_info& info = *job.info;
    if (job.restored && info.identity_uri != nullptr &&
        job.restored->machine_uri != info.identity_uri) {
        return report(exit_failed, "the state file " + o.state_in + " belongs to " +
                                       job.restored->machine_uri + ", not to " + quoted_name(info));
    }
    job.generator = !info.track_params().empty();
    return 0;
}

// An effect works on an input file; a generator plays notes instead.
int read_input(const render_options& o, render_job& job) {
    const kestrune::host_info& info = *job.info;
    if (!o.input.empty()) {
        if (job.generator) {
            return report(exit_usage, quoted_name(info) + " is a generator: it takes no --input");
        }
        std::string error;
        job.input = read_sound(o.input, error);
        if (!job.input) {
            return report(exit_failed, error);
        }
    } else if (!job.generator) {
        return report(exit_usage, quoted_name(info) + " is an effect: give it an --input WAV file");
    }
    if (!job.generator && !o.notes.empty()) {
        return report(exit_usage, quoted_name(info) + " is an effect: it plays no notes");
    }
    return 0;
}

// A generator's tracks in use: --tracks, else enough for the notes (and the fewest it takes).
int choose_tracks(const render_options& o, render_job& job) {
    const kestrune::host_info& info = *job.info;
    int highest_track = -1;
    for (const note_request& n : o.notes) {
        if (n.track < 0 || n.track >= std::max(info.most_tracks, 1)) {
            return report(exit_usage, "track " + std::to_string(n.track) + " is out of range: " +
                                          quoted_name(info) + " has tracks 0 to " +
                                          std::to_string(info.most_tracks - 1));
        }
        highest_track = std::max(highest_track, n.track);
    }
    if (!job.generator) {
        return o.tracks ? report(exit_usage, quoted_name(info) + " is an effect: it has no tracks")
                        : 0;
    }
    job.tracks = o.tracks ? *o.tracks : std::max(info.fewest_tracks, highest_track + 1);
    if (job.tracks < info.fewest_tracks || job.tracks > info.most_tracks) {
        return report(exit_usage, "--tracks " + std::to_string(job.tracks) + ": " +
                                      quoted_name(info) + " takes " +
                                      std::to_string(info.fewest_tracks) + " to " +
                                      std::to_string(info.most_tracks) + " tracks");
    }
    if (highest_track >= job.tracks) {
        return report(exit_usage, "a note plays on track " + std::to_string(highest_track) +
                                      ", but only " + std::to_string(job.tracks) +
                                      " tracks are in use");
    }
    return 0;
}

// The timing (the input's rate unless --rate), the length, and the notes placed on ticks.
int plan_song(const render_options& o, render_job& job) {
    timing& t = job.song;
    const std::optional<stereo_sound>& input = job.input;
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
    std::string error;
    auto plan = make_plan(t, total, o.notes, error);
    if (!plan) {
        return report(exit_usage, error);
    }
    if (!o.quiet) {
        for (const std::string& w : plan->warnings) {
            warn(w);
        }
    }
    job.plan = std::move(*plan);
    return 0;
}

// Host values can be checked before anything runs.
int read_host_settings(const render_options& o, render_job& job) {
    for (const std::string& text : o.host_settings) {
        std::string error;
        auto one = host_setting(*job.info, text, error);
        if (!one) {
            return report(exit_usage, error);
        }
        job.settings.push_back(*one);
    }
    return 0;
}

} // namespace

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

std::string quoted_name(const kestrune::host_info& info) {
    return std::string("\"") + (info.full_name != nullptr ? info.full_name : "") + "\"";
}

int plan_render(session& s, const render_options& o, render_job& job) {
    if (int code = read_restored_state(o, job)) {
        return code;
    }
    if (int code = choose_render_machine(s, o, job)) {
        return code;
    }
    if (int code = read_input(o, job)) {
        return code;
    }
    if (int code = choose_tracks(o, job)) {
        return code;
    }
    if (int code = plan_song(o, job)) {
        return code;
    }
    return read_host_settings(o, job);
}

} // namespace kestrune_host
