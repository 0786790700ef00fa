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
        plugin().set_tracks(std::max(info_.fewest_tracks, 1));
    }
    return true;
}

void player::tick(unsigned char note, int index, int value) {
    kestrune::host_plugin& p = plugin();
    write_empty_globals(info_.global_params(), p.global_values);
    if (index >= 0) {
        write_global(info_.global_params(), index, value, p.global_values);
    }
    if (generator() && p.track_values != nullptr) {
        clear_tracks(p.track_values, std::max(info_.fewest_tracks, 1));
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
            auto sample = generator() ? 0.0f : static_cast<float>(0.5 * std::sin(two_pi * phase_));
            phase_ = std::fmod(phase_ + 440.0 / rate_, 1.0);
            in_left_[static_cast<std::size_t>(k)] = sample;
            in_right_[static_cast<std::size_t>(k)] = sample;
        }
        if (plugin().render(inputs, outputs, n, mode)) {
            count_samples(outputs[0], n, counts);
            count_samples(outputs[1], n, counts);
        } else {
            counts.samples += 2LL * n;
        }
        count -= n;
    }
    return counts;
}

} // namespace kestrune_host
