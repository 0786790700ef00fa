// What a render plays, worked out before any machine runs: the song timing, the number of
// samples, and the note records that the host writes on each tick.
//
// Notes are placed in beats and land on the nearest tick (ticks_per_beat to the beat). A note
// with a length gets a note-off that many beats later, unless another note of the same track
// starts on that tick. Two notes on one track and one tick are refused: a track record holds
// one note.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrune_host {

struct note_request {
    unsigned char note = 0; // the host's note byte (255: note-off)
    int track = 0;
    double at_beats = 0.0;
    std::optional<double> length_beats; // a note-off that many beats later
    unsigned command = 0;               // the 16-bit command word of the note's record
};

struct timing {
    int beats_per_minute = 125;
    int ticks_per_beat = 4;
    int samples_per_second = 44100;
};

struct track_event {
    int track = 0;
    unsigned char note = 0;
    unsigned command = 0;
};

struct render_plan {
    int samples_per_tick = 0;
    long long total_samples = 0;
    std::map<long long, std::vector<track_event>> events; // by tick, in track order
    std::vector<std::string> warnings; // notes that fall past the end, said once each
};

// Samples per tick as the host computes them; 0 when the timing gives none.
int samples_per_tick(const timing& t);

// The plan, or an error text saying what is wrong with the request.
std::optional<render_plan> make_plan(const timing& t, long long total_samples,
                                     const std::vector<note_request>& notes, std::string& error);

} // namespace kestrune_host
