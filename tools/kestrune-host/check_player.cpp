#include "check_player.h"

#include <algorithm>
#include <cmath>

#include "hostkit/master_info.h"
#include "value_areas.h"

namespace kestrune_host {

namespace {
constexpr int mode_input = 1;
constexpr int mode_output = 2;
constexpr double two_pi = 6.283185307179586;
// A subnormal in the host's scale that stays one in the machine's, 32768 times larger.
constexpr float smallest_subnormal = 1e-44f;
} // namespace

player::player(kestrune::host_info& info, int samples_per_second)
    : info_(info), rate_(samples_per_second),
      live_(info, hostkit::make_master_info(125, 4, samples_per_second)), in_left_(max_block),
      in_right_(max_block), out_left_(max_block), out_right_(max_block) {}

bool player::start(kestrune::host_archive* archive, std::string& error) {
    if (!live_.start(archive, error)) {
        return false;
    }
    if (generator()) {
        tracks_ = std::max(info_.fewest_tracks, 1);
        plugin().set_tracks(tracks_);
    }
    return true;
}

void player::use_tracks(int count) {
    if (generator()) {
        tracks_ = std::clamp(count, std::max(info_.fewest_tracks, 1),
                             std::max(info_.most_tracks, info_.fewest_tracks));
        tracks_ = std::max(tracks_, 1);
        plugin().set_tracks(tracks_);
    }
}

void player::change_rate(int samples_per_second) {
    rate_ = samples_per_second;
    live_.master() = hostkit::make_master_info(125, 4, samples_per_second);
}

void player::tick(const std::vector<std::pair<int, int>>& globals,
                  const std::vector<track_event>& tracks) {
    kestrune::host_plugin& p = plugin();
    write_empty_globals(info_.global_params(), p.global_values);
    for (const auto& [index, value] : globals) {
        write_global(info_.global_params(), index, value, p.global_values);
    }
    if (generator() && p.track_values != nullptr) {
        clear_tracks(p.track_values, tracks_);
        for (const track_event& event : tracks) {
            if (event.track >= 0 && event.track < tracks_) {
                write_track(p.track_values, event.track, event.note, event.command);
            }
        }
    }
    p.take_events();
}

void player::tick(unsigned char note, int index, int value) {
    kestrune::host_plugin& p = plugin();
    write_empty_globals(info_.global_params(), p.global_values);
    if (index >= 0) {
        write_global(info_.global_params(), index, value, p.global_values);
    }
    if (generator() && p.track_values != nullptr) {
        clear_tracks(p.track_values, tracks_);
        write_track(p.track_values, 0, note, 0);
    }
    p.take_events();
}

sample_counts player::render(long long count, int block) {
    sample_counts counts;
    block = std::clamp(block, 1, max_block);
    float* inputs[2] = {in_left_.data(), in_right_.data()};
    float* outputs[2] = {out_left_.data(), out_right_.data()};
    int mode = mode_output | (generator() ? 0 : mode_input);
    while (count > 0) {
        int n = static_cast<int>(std::min<long long>(block, count));
        for (int k = 0; k < n; ++k) {
            float sample = 0.0f;
            if (!generator() && input_ == input::sine) {
                sample = static_cast<float>(0.5 * std::sin(two_pi * phase_));
            } else if (!generator() && input_ == input::subnormal) {
                sample = (k & 1) != 0 ? smallest_subnormal : -smallest_subnormal;
            }
            phase_ = std::fmod(phase_ + 440.0 / rate_, 1.0);
            in_left_[static_cast<std::size_t>(k)] = sample;
            in_right_[static_cast<std::size_t>(k)] = sample;
        }
        last_block_ = n;
        if (plugin().render(inputs, outputs, n, mode)) {
            count_samples(outputs[0], n, counts);
            count_samples(outputs[1], n, counts);
        } else {
            std::fill_n(out_left_.begin(), n, 0.0f);
            std::fill_n(out_right_.begin(), n, 0.0f);
            counts.samples += 2LL * n;
        }
        count -= n;
    }
    return counts;
}

} // namespace kestrune_host
