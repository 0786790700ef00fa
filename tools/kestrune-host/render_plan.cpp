#include "render_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "note_name.h"

namespace kestrune_host {

namespace {

long long tick_of(double beats, int ticks_per_beat) {
    return std::llround(beats * ticks_per_beat);
}

std::string beats_text(double beats) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", beats);
    return text;
}

} // namespace

int samples_per_tick(const timing& t) {
    long long ticks_per_minute = static_cast<long long>(t.beats_per_minute) * t.ticks_per_beat;
    if (ticks_per_minute <= 0 || t.samples_per_second <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<long long>(t.samples_per_second) * 60 / ticks_per_minute);
}

std::optional<render_plan> make_plan(const timing& t, long long total_samples,
                                     const std::vector<note_request>& notes, std::string& error) {
    render_plan plan;
    plan.samples_per_tick = samples_per_tick(t);
    plan.total_samples = total_samples;
    if (plan.samples_per_tick <= 0) {
        error = "the tempo, ticks per beat and sample rate give no samples per tick";
        return std::nullopt;
    }
    long long last_tick = (total_samples + plan.samples_per_tick - 1) / plan.samples_per_tick;

    // The notes themselves first, then the note-offs of their lengths where a tick is free.
    std::map<long long, std::map<int, track_event>> placed;
    for (const note_request& n : notes) {
        if (n.at_beats < 0.0 || !std::isfinite(n.at_beats)) {
            error = "a note can't start at beat " + beats_text(n.at_beats);
            return std::nullopt;
        }
        long long tick = tick_of(n.at_beats, t.ticks_per_beat);
        auto& on_tick = placed[tick];
        if (on_tick.count(n.track) != 0) {
            error = "two notes on track " + std::to_string(n.track) + " at beat " +
                    beats_text(n.at_beats) + " (tick " + std::to_string(tick) +
                    "): a track plays one note a tick";
            return std::nullopt;
        }
        on_tick[n.track] = track_event{n.track, n.note, n.note == note_off_byte ? 0u : n.command};
    }
    for (const note_request& n : notes) {
        if (!n.length_beats) {
            continue;
        }
        if (*n.length_beats <= 0.0 || !std::isfinite(*n.length_beats)) {
            error = "a note's length must be more than 0 beats, not " + beats_text(*n.length_beats);
            return std::nullopt;
        }
        long long tick = tick_of(n.at_beats + *n.length_beats, t.ticks_per_beat);
        if (tick == tick_of(n.at_beats, t.ticks_per_beat)) {
            ++tick; // a length shorter than a tick still lasts one
        }
        auto& on_tick = placed[tick];
        on_tick.emplace(n.track, track_event{n.track, note_off_byte, 0});
    }

    for (auto& [tick, by_track] : placed) {
        if (tick >= last_tick) {
            for (auto& [track, event] : by_track) {
                plan.warnings.push_back(note_name(event.note) + " on track " +
                                        std::to_string(track) + " at tick " + std::to_string(tick) +
                                        " falls past the end of the render");
            }
            continue;
        }
        auto& list = plan.events[tick];
        for (auto& [track, event] : by_track) {
            list.push_back(event);
        }
    }
    return plan;
}

} // namespace kestrune_host
