// Kestrune Demo Delay: a stereo feedback delay with an output gain. Its parameters:
//   Time      1..2000 ms    a word
//   Feedback  0..95 %       a byte: how much of each echo comes back as the next one
//   Mix       0..100 %      a byte: the echoes' level beside the dry signal, which always
//                           passes whole (Mix 0 makes this a plain gain)
//   Gain      -24..12 dB    a byte whose range starts below 0, so the host sees it shifted to
//                           0..36 and Kestrune shifts every value back
// State: a version (1) and the four values in the machine's own ranges, little-endian.
// Command 0 clears the echoes.
#include <cmath>
#include <cstdio>

#include "delay_line.h"
#include "demo_machine.h"

namespace {

enum param_index { p_time, p_feedback, p_mix, p_gain, param_count };

const kestrune::machine_parameter time_param{"Time", "Delay time (ms)", 1, 2000, 0, 350};
const kestrune::machine_parameter feedback_param{"Feedback", "Feedback (%)", 0, 95, 0, 40};
const kestrune::machine_parameter mix_param{"Mix", "Echo level (%)", 0, 100, 0, 30};
const kestrune::machine_parameter gain_param{"Gain", "Output gain (dB)", -24, 12, 0, 0};

const kestrune::machine_parameter* const params[param_count] = {&time_param, &feedback_param,
                                                                &mix_param, &gain_param};

const kestrune::machine_description description{11,
                                                0,
                                                param_count,
                                                params,
                                                "Kestrune Demo Delay",
                                                "DemoDelay",
                                                "Kestrune developers",
                                                "Clear Echoes",
                                                2};

constexpr int longest_ms = 2000;

class demo_delay final : public demo::parameter_machine<demo_delay, param_count> {
public:
    demo_delay() : parameter_machine(params) {}

    void start_up() override { update_rate(); }

    void render_block(float* left, float* right, int count, int tracks) override {
        (void)tracks;
        if (left == nullptr || right == nullptr || count <= 0) {
            return;
        }
        update_rate();
        int delay = static_cast<int>(std::lround(value_[p_time] * rate_ / 1000.0));
        auto feedback = static_cast<float>(value_[p_feedback] / 100.0);
        auto mix = static_cast<float>(value_[p_mix] / 100.0);
        auto gain = static_cast<float>(std::pow(10.0, value_[p_gain] / 20.0));
        for (int k = 0; k < count; ++k) {
            float l = left[k];
            float r = right[k];
            left[k] = (l + mix * lines_[0].process(l, delay, feedback)) * gain;
            right[k] = (r + mix * lines_[1].process(r, delay, feedback)) * gain;
        }
    }

    void silence() override { clear(); }

    void user_command() override { clear(); }

    bool describe(char* text, int index, int value) override {
        if (!describable(text, index, value)) {
            return false;
        }
        constexpr std::size_t size = 128;
        switch (index) {
        case p_time:
            std::snprintf(text, size, "%d ms", value);
            return true;
        case p_feedback:
        case p_mix:
            std::snprintf(text, size, "%d %%", value);
            return true;
        case p_gain:
            std::snprintf(text, size, "%+d dB", value);
            return true;
        default:
            return false;
        }
    }

private:
    void clear() {
        lines_[0].clear();
        lines_[1].clear();
    }

    // The echo memory follows the host's sample rate; a rate change starts with fresh (and so
    // silent) memory. When the memory can't be had, the signal passes with its gain alone.
    void update_rate() {
        int rate = callback != nullptr ? callback->sample_rate() : 44100;
        if (rate <= 0) {
            rate = 44100;
        }
        if (rate == rate_ && lines_[0].capacity() > 0) {
            return;
        }
        rate_ = rate;
        int capacity = static_cast<int>(static_cast<long long>(rate) * longest_ms / 1000) + 1;
        if (!lines_[0].resize(capacity) || !lines_[1].resize(capacity)) {
            lines_[0].resize(0);
            lines_[1].resize(0);
        }
    }

    demo::delay_line lines_[2];
    int rate_ = 0;
};

} // namespace

DEMO_MACHINE_EXPORTS(demo_delay, description)
