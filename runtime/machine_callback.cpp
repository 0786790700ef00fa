#include "runtime/machine_callback.h"

namespace kestrune {

int machine_callback::message(const char* text, const char* caption, unsigned type) noexcept {
    return instance != nullptr ? instance->message(text, caption, type)
                               : machine_host_callback::message(text, caption, type);
}

int machine_callback::tick_length() noexcept {
    return instance != nullptr ? instance->tick_length() : machine_host_callback::tick_length();
}

int machine_callback::sample_rate() noexcept {
    return instance != nullptr ? instance->sample_rate() : machine_host_callback::sample_rate();
}

int machine_callback::tempo() noexcept {
    return instance != nullptr ? instance->tempo() : machine_host_callback::tempo();
}

int machine_callback::beat_ticks() noexcept {
    return instance != nullptr ? instance->beat_ticks() : machine_host_callback::beat_ticks();
}

} // namespace kestrune
