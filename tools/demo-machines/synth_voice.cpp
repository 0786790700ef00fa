#include "synth_voice.h"

#include <cmath>

namespace demo {

namespace {

constexpr double pi = 3.14159265358979323846;

// The polynomial correction of a unit step at phase 0, over one sample on either side.
double poly_step(double phase, double step) {
    if (phase < step) {
        double t = phase / step;
        return t + t - t * t - 1.0;
    }
    if (phase > 1.0 - step) {
        double t = (phase - 1.0) / step;
        return t * t + t + t + 1.0;
    }
    return 0.0;
}

} // namespace

double note_frequency(int note, double fine_cents) {
    constexpr int a4_note = 58;
    double semitones = (note - a4_note) + fine_cents / 100.0;
    return 440.0 * std::pow(2.0, semitones / 12.0);
}

double oscillator::next(waveform shape, double phase_step) {
    double p = phase;
    double value = 0.0;
    switch (shape) {
    case waveform::sine:
        value = std::sin(2.0 * pi * p);
        break;
    case waveform::saw:
        value = 2.0 * p - 1.0 - poly_step(p, phase_step);
        break;
    case waveform::square: {
        double half = p + 0.5 >= 1.0 ? p - 0.5 : p + 0.5;
        value = (p < 0.5 ? 1.0 : -1.0) + poly_step(p, phase_step) - poly_step(half, phase_step);
        break;
    }
    case waveform::triangle:
        value = 1.0 - 4.0 * std::fabs(p - 0.5);
        break;
    }
    p += phase_step;
    if (p >= 1.0) {
        p -= std::floor(p);
    }
    phase = p;
    return value;
}

filter_coefficients low_pass(double cutoff_hz, double resonance, double sample_rate) {
    filter_coefficients c;
    if (sample_rate <= 0.0) {
        return c;
    }
    double highest = 0.45 * sample_rate;
    double cutoff = cutoff_hz < 1.0 ? 1.0 : (cutoff_hz > highest ? highest : cutoff_hz);
    double g = std::tan(pi * cutoff / sample_rate);
    double r = resonance < 0.0 ? 0.0 : (resonance > 1.0 ? 1.0 : resonance);
    double k = 2.0 - 1.9 * r; // damping: 2 is no resonance, 0.1 rings strongly
    c.a1 = 1.0 / (1.0 + g * (g + k));
    c.a2 = g * c.a1;
    c.a3 = g * c.a2;
    return c;
}

double low_pass_filter::next(const filter_coefficients& c, double input) {
    double v3 = input - state2;
    double v1 = c.a1 * state1 + c.a2 * v3;
    double v2 = state2 + c.a2 * state1 + c.a3 * v3;
    state1 = 2.0 * v1 - state1;
    state2 = 2.0 * v2 - state2;
    return v2;
}

void envelope::trigger(double attack_samples) {
    if (attack_samples < 1.0) {
        level = 1.0;
        phase = stage::hold;
        step = 0.0;
        return;
    }
    phase = stage::attack;
    step = 1.0 / attack_samples;
}

void envelope::end(double release_samples) {
    if (phase == stage::idle) {
        return;
    }
    if (release_samples < 1.0) {
        level = 0.0;
        phase = stage::idle;
        return;
    }
    phase = stage::release;
    step = level / release_samples;
}

double envelope::next() {
    double now = level;
    switch (phase) {
    case stage::attack:
        level += step;
        if (level >= 1.0) {
            level = 1.0;
            phase = stage::hold;
        }
        break;
    case stage::release:
        level -= step;
        if (level <= 0.0) {
            level = 0.0;
            phase = stage::idle;
        }
        break;
    case stage::idle:
    case stage::hold:
        break;
    }
    return now;
}

} // namespace demo
