// Kestrune Demo Synth: a small subtractive generator, one voice per track. Its parameters
// between them show every way Kestrune can describe a machine parameter to a host:
//   Waveform   0..3           a byte, with its own value texts (Sine, Saw, Square, Triangle)
//   Cutoff     20..20000 Hz   a word, taken into the host's range unchanged
//   Resonance  0..100 %       a byte
//   Filter     0..1           a switch (off, on)
//   Fine Tune  -100000..100000 thousandths of a cent: wider than a host word, so the host
//                             sees 0..65534 and Kestrune rescales every value it sends
//   Attack     0..2000 ms     the envelope: a linear attack, held while the note is held,
//   Release    0..5000 ms     and a linear release after the note-off
//   Volume     0..100 %       at 100 % one voice peaks at half of full scale
// Notes are tuned so that the host's A-4 sounds at 440 Hz (see note_frequency). Command 0x0C
// with a note sets that note's volume, 0x00 to 0x80 of full.
//
// State: a version (1) and the eight values in the machine's own ranges, little-endian.
// Command 0 shows a short help text through the host's message box.
#include <cstdio>

#include "demo_machine.h"
#include "synth_voice.h"

namespace {

enum param_index {
    p_waveform,
    p_cutoff,
    p_resonance,
    p_filter,
    p_fine_tune,
    p_attack,
    p_release,
    p_volume,
    param_count
};

const kestrune::machine_parameter waveform_param{"Waveform", "Oscillator waveform", 0, 3, 0, 1};
const kestrune::machine_parameter cutoff_param{"Cutoff", "Filter cutoff (Hz)", 20, 20000, 0, 6000};
const kestrune::machine_parameter resonance_param{"Resonance", "Filter resonance (%)", 0, 100, 0,
                                                  20};
const kestrune::machine_parameter filter_param{"Filter", "Low-pass filter on or off", 0, 1, 0, 1};
const kestrune::machine_parameter fine_tune_param{
    "Fine Tune", "Fine tune (1/1000 cent)", -100000, 100000, 0, 0};
const kestrune::machine_parameter attack_param{"Attack", "Envelope attack (ms)", 0, 2000, 0, 5};
const kestrune::machine_parameter release_param{"Release", "Envelope release (ms)", 0, 5000, 0,
                                                150};
const kestrune::machine_parameter volume_param{"Volume", "Output volume (%)", 0, 100, 0, 80};

const kestrune::machine_parameter* const params[param_count] = {
    &waveform_param,  &cutoff_param, &resonance_param, &filter_param,
    &fine_tune_param, &attack_param, &release_param,   &volume_param};

const kestrune::machine_description description{
    11,     3, param_count, params, "Kestrune Demo Synth", "DemoSynth", "Kestrune developers",
    "Help", 1};

constexpr int voice_count = 64; // the room of a host's track value area
constexpr int note_off = 120;
constexpr int volume_command = 0x0C;
constexpr double voice_peak = 0.5 * 32768.0; // a machine's full scale is 32768

const char* const waveform_names[] = {"Sine", "Saw", "Square", "Triangle"};

struct voice {
    demo::oscillator osc;
    demo::low_pass_filter filter;
    demo::envelope env;
    double frequency = 440.0;
    int note = -1;
    double velocity = 1.0;
};

class demo_synth final : public demo::parameter_machine<demo_synth, param_count> {
public:
    demo_synth() : parameter_machine(params) {}

    void start_up() override { update_rate(); }

    void set_parameter(int index, int value) override {
        if (!store(index, value)) {
            return;
        }
        if (index == p_cutoff || index == p_resonance) {
            coefficients_dirty_ = true;
        }
        if (index == p_fine_tune) {
            for (voice& v : voices_) {
                if (v.note >= 0) {
                    v.frequency = demo::note_frequency(v.note, fine_cents());
                }
            }
        }
    }

    void render_block(float* left, float* right, int count, int tracks) override {
        (void)tracks; // every sounding voice plays, whatever the track count is now
        if (left == nullptr || right == nullptr || count <= 0) {
            return;
        }
        update_rate();
        if (coefficients_dirty_) {
            coefficients_ = demo::low_pass(value_[p_cutoff], value_[p_resonance] / 100.0, rate_);
            coefficients_dirty_ = false;
        }
        auto shape = static_cast<demo::waveform>(value_[p_waveform]);
        bool filtered = value_[p_filter] != 0;
        double gain = voice_peak * value_[p_volume] / 100.0;
        for (voice& v : voices_) {
            if (!v.env.active()) {
                continue;
            }
            double step = v.frequency / rate_;
            double level = gain * v.velocity;
            for (int k = 0; k < count && v.env.active(); ++k) {
                double sample = v.osc.next(shape, step);
                if (filtered) {
                    sample = v.filter.next(coefficients_, sample);
                }
                auto out = static_cast<float>(sample * v.env.next() * level);
                left[k] += out;
                right[k] += out;
            }
        }
    }

    void silence() override {
        for (voice& v : voices_) {
            v.env = demo::envelope{};
            v.filter.clear();
            v.note = -1;
        }
    }

    void user_command() override {
        if (callback != nullptr) {
            callback->message(
                "A subtractive synth, one voice per track: an oscillator, a low-pass filter and "
                "an attack/release envelope.\nA-4 sounds at 440 Hz. Command 0C sets a note's "
                "volume (00..80).",
                "Kestrune Demo Synth", 0);
        }
    }

    bool describe(char* text, int index, int value) override {
        if (!describable(text, index, value)) {
            return false;
        }
        constexpr std::size_t size = 128;
        switch (index) {
        case p_waveform:
            std::snprintf(text, size, "%s", waveform_names[value]);
            return true;
        case p_cutoff:
            std::snprintf(text, size, "%d Hz", value);
            return true;
        case p_resonance:
        case p_volume:
            std::snprintf(text, size, "%d %%", value);
            return true;
        case p_filter:
            std::snprintf(text, size, "%s", value != 0 ? "on" : "off");
            return true;
        case p_fine_tune:
            std::snprintf(text, size, "%+.3f cents", value / 1000.0);
            return true;
        case p_attack:
        case p_release:
            std::snprintf(text, size, "%d ms", value);
            return true;
        default:
            return false;
        }
    }

    void sequence_event(int channel, int note, int instrument, int command,
                        int parameter) override {
        (void)instrument;
        if (channel < 0 || channel >= voice_count) {
            return;
        }
        voice& v = voices_[channel];
        if (note == note_off) {
            v.env.end(milliseconds(value_[p_release]));
            return;
        }
        if (note < 0 || note > note_off) {
            return;
        }
        v.note = note;
        v.frequency = demo::note_frequency(note, fine_cents());
        v.velocity = command == volume_command ? demo::clamp_int(parameter, 0, 0x80) / 128.0 : 1.0;
        if (!v.env.active()) {
            v.osc.phase = 0.0;
            v.filter.clear();
        }
        v.env.trigger(milliseconds(value_[p_attack]));
    }

private:
    double fine_cents() const { return value_[p_fine_tune] / 1000.0; }
    double milliseconds(int ms) const { return ms * rate_ / 1000.0; }

    void update_rate() {
        int rate = callback != nullptr ? callback->sample_rate() : 44100;
        double wanted = rate > 0 ? rate : 44100;
        if (wanted != rate_) {
            rate_ = wanted;
            coefficients_dirty_ = true;
        }
    }

    voice voices_[voice_count];
    demo::filter_coefficients coefficients_;
    bool coefficients_dirty_ = true;
    double rate_ = 44100.0;
};

} // namespace

DEMO_MACHINE_EXPORTS(demo_synth, description)
