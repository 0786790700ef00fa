// One instance as "check" plays it: started at a sample rate, given a tick of events when the
// check asks for one, and rendered in blocks of any size, its output counted.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "check_audio.h"
#include "session.h"

namespace kestrune_host {

class player {
public:
    player(kestrune::host_info& info, int samples_per_second);

    // Starts the instance (restoring archive, when given) with a generator's fewest tracks in
    // use; false with error when it has no machine.
    bool start(kestrune::host_archive* archive, std::string& error);
    kestrune::host_plugin& plugin() const { return *live_.plugin(); }
    // Whether there is an instance at all (start made one, whether or not its machine loaded).
    bool has_instance() const { return live_.plugin() != nullptr; }
    bool generator() const { return !info_.track_params().empty(); }
    int samples_per_second() const { return rate_; }

    // One tick's events: the global value areas with index set to value (index -1: nothing
    // changes), and on a generator's track 0 the note byte (0: none), then take_events.
    void tick(unsigned char note, int index = -1, int value = 0);
    // The same with any events: global values by index, and on each of a generator's tracks
    // in use a note byte and command word.
    struct track_event {
        int track = 0;
        unsigned char note = 0;
        unsigned command = 0;
    };
    void tick(const std::vector<std::pair<int, int>>& globals,
              const std::vector<track_event>& tracks);
    // A generator's tracks in use, from the next tick on (clamped to what it allows).
    void use_tracks(int count);
    int tracks() const { return tracks_; }
    // Changes the sample rate between two blocks, as a host does when its device changes.
    void change_rate(int samples_per_second);

    // Renders count samples in blocks of at most block (1 to max_block). An effect hears a
    // 440 Hz sine at half of full scale. A render that answers "no sound" counts as silence.
    sample_counts render(long long count, int block);
    // What an effect hears from then on: the sine, silence, or the smallest subnormal numbers.
    enum class input { sine, silence, subnormal };
    void set_input(input kind) { input_ = kind; }
    // The last block's output, left and right, as the machine wrote it.
    const std::vector<float>& left() const { return out_left_; }
    const std::vector<float>& right() const { return out_right_; }
    int last_block() const { return last_block_; }

    static constexpr int max_block = 16384;

private:
    kestrune::host_info& info_;
    int rate_;
    instance live_;
    std::vector<float> in_left_, in_right_, out_left_, out_right_;
    double phase_ = 0.0; // of the effect's input, in cycles
    input input_ = input::sine;
    int tracks_ = 1;
    int last_block_ = 0;
};

// The note a check plays: A-4.
constexpr unsigned char check_note = 0x4A;

} // namespace kestrune_host
