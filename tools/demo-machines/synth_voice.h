// The sound of the demo synth, as plain records and functions: one voice is an oscillator, a
// two-pole low-pass filter and an attack/release envelope. Nothing here knows the machine
// interface, so the pieces can be tried on their own.
#pragma once

namespace demo {

enum class waveform { sine = 0, saw = 1, square = 2, triangle = 3 };

// Frequency of a machine note, twelve to the octave. Kestrune hands a host note byte n on as
// (n & 15) + 12 * (n >> 4), with the semitone counted from 1 (C) to 12 (B): the host's C-4
// (0x41) arrives as 49 and its A-4 (0x4A) as 58. This synth tunes note 58 to 440 Hz, so that
// the note the host shows is the note that sounds. fine_cents shifts it by hundredths of a
// semitone.
double note_frequency(int note, double fine_cents);

// One oscillator: a phase running from 0 to 1. Saw and square are band-limited with a
// two-sample polynomial step, so that high notes don't alias into audible noise.
struct oscillator {
    double phase = 0.0;
    double next(waveform shape, double phase_step); // one sample, -1..1
};

// A state-variable low-pass filter (trapezoidal integration): stable at every cutoff, with a
// resonance from none (0) to strong (1).
struct filter_coefficients {
    double a1 = 1.0, a2 = 0.0, a3 = 0.0;
};
filter_coefficients low_pass(double cutoff_hz, double resonance, double sample_rate);

struct low_pass_filter {
    double state1 = 0.0, state2 = 0.0;
    double next(const filter_coefficients& c, double input);
    void clear() { state1 = state2 = 0.0; }
};

// A linear attack to full level, held while the note is held, then a linear release to
// silence. Times are in samples; 0 means at once.
struct envelope {
    enum class stage { idle, attack, hold, release };
    stage phase = stage::idle;
    double level = 0.0;
    double step = 0.0;

    void trigger(double attack_samples); // starts from the current level: no click on retrigger
    void end(double release_samples);
    double next(); // the level for this sample, then advances
    bool active() const { return phase != stage::idle; }
};

} // namespace demo
