// The instance's operations once its machine runs: events and value texts, audio, commands, the
// calls passed through to the machine, the host features that machines don't offer, and the
// machine's callback. Its construction, lifecycle and re-entry are in machine_plugin.cpp.
#include "runtime/machine_plugin.h"

#include "platform/message_box.h"
#include "runtime/about.h"
#include "runtime/audio.h"

namespace kestrune {

namespace {

constexpr int output_requested = 2; // render's mode bit

// What value_text answers when it has no text of the instance to give: a re-entrant call, or one
// whose instance was released meanwhile.
const char empty_text[] = "";

// render's answer without a machine to call: the outputs silent, nothing to hear.
bool silence_outputs(float** outputs, int count) {
    if (outputs != nullptr && outputs[0] != nullptr && outputs[1] != nullptr) {
        scale_to_machine(nullptr, nullptr, outputs[0], outputs[1], count);
    }
    return false;
}

} // namespace

// --- Events and value texts -----------------------------------------------------------------

event_source machine_plugin::events() const {
    event_source source;
    source.layout = &layout;
    source.host_params = info->global_params();
    source.machine_ranges = machine_ranges.get();
    source.machine_range_count = machine_range_count;
    source.track_area = track_area.get();
    source.track_records = track_record_count;
    source.track_count = track_count;
    return source;
}

void machine_plugin::take_events() noexcept {
    if (machine.running() && enter()) {
        send_events(events(), machine);
        leave();
    }
}

const char* machine_plugin::value_text(int index, int value) noexcept {
    if (calls_in_progress != 0) {
        return empty_text; // the call in progress may be writing text_buffer
    }
    text_buffer[0] = '\0';
    if (!machine.running()) {
        return text_buffer;
    }
    enter();
    const char* text = describe_value(events(), machine, index, value, text_buffer);
    return leave() ? text : empty_text;
}

// --- Audio ----------------------------------------------------------------------------------

bool machine_plugin::render(float** inputs, float** outputs, int count, int mode) noexcept {
    if (calls_in_progress != 0) {
        return silence_outputs(outputs, count);
    }
    if (!machine.running() || (mode & output_requested) == 0) {
        return false;
    }
    if (outputs == nullptr || outputs[0] == nullptr || outputs[1] == nullptr) {
        return false;
    }
    float* left = outputs[0];
    float* right = outputs[1];
    const float* in_left = inputs != nullptr ? inputs[0] : nullptr;
    const float* in_right = inputs != nullptr ? inputs[1] : nullptr;
    scale_to_machine(in_left, in_right, left, right, count);
    enter();
    bool rendered = machine.render_block(left, right, count, track_count);
    if (!leave()) {
        return silence_outputs(outputs, count); // released meanwhile: not heard either
    }
    if (!rendered) {
        // Whatever the machine left half-done is not heard.
        scale_to_machine(nullptr, nullptr, left, right, count);
        return false;
    }
    return scale_to_host(left, right, count);
}

// --- Commands -------------------------------------------------------------------------------

// The About box is modal too, so it counts as a call in progress: a release under it waits.
void machine_plugin::run_command(int index) noexcept {
    if (!enter()) {
        return;
    }
    if (machine.faulted()) {
        if (index != 0) {
            // The user learns why the machine went quiet.
            show_about_box(*info, machine.fault, process_text());
        }
    } else if (machine.running()) {
        if (index == 0) {
            machine.user_command();
        } else {
            show_about_box(*info, machine_fault{}, process_text());
        }
    }
    leave();
}

// --- Pass-through operations ----------------------------------------------------------------

void machine_plugin::halt() noexcept {
    if (enter()) {
        machine.silence();
        leave();
    }
}

void machine_plugin::set_tracks(int count) noexcept {
    track_count = count;
}

void machine_plugin::mute(int track) noexcept {
    if (enter()) {
        machine.mute_channel(track);
        leave();
    }
}

bool machine_plugin::is_muted(int track) noexcept {
    bool muted = false;
    if (!enter()) {
        return false;
    }
    bool answered = machine.channel_muted(track, muted);
    return leave() && answered && muted;
}

void machine_plugin::midi_key(int channel, int value, int velocity) noexcept {
    if (enter()) {
        machine.midi_in(channel, value, velocity);
        leave();
    }
}

// --- Host features that machines don't offer: fixed answers ---------------------------------

void machine_plugin::attributes_updated() noexcept {}
void machine_plugin::raw_event(unsigned data) noexcept {
    (void)data;
}
const void* machine_plugin::envelope_list() noexcept {
    return nullptr;
}
bool machine_plugin::start_wave(int wave, int note, float volume) noexcept {
    (void)wave, (void)note, (void)volume;
    return false;
}
void machine_plugin::end_wave() noexcept {}
int machine_plugin::envelope_position(int envelope) noexcept {
    (void)envelope;
    return -1;
}
const char* machine_plugin::param_text(int param) noexcept {
    (void)param;
    return nullptr;
}
bool machine_plugin::choose_instrument(const char* name) noexcept {
    (void)name;
    return false;
}
void machine_plugin::sub_menu(int index, host_outstream* menu) noexcept {
    (void)index, (void)menu;
}
void machine_plugin::input_added(const char* name) noexcept {
    (void)name;
}
void machine_plugin::input_removed(const char* name) noexcept {
    (void)name;
}
void machine_plugin::input_renamed(const char* old_name, const char* new_name) noexcept {
    (void)old_name, (void)new_name;
}
void machine_plugin::mix_input(float** samples, int count, float amp) noexcept {
    (void)samples, (void)count, (void)amp;
}
void machine_plugin::midi_controller(int controller, int channel, int value) noexcept {
    (void)controller, (void)channel, (void)value;
}
bool machine_plugin::input_level(int index, int amp, int pan) noexcept {
    (void)index, (void)amp, (void)pan;
    return false;
}

// --- The machine's callback, forwarded by its callback object -------------------------------
// A faulted machine gets the base answers even before it is abandoned and its callback detached.

int machine_plugin::message(const char* text, const char* caption, unsigned type) noexcept {
    return machine.faulted() ? machine_host_callback::message(text, caption, type)
                             : platform::message_box(text, caption, type);
}

int machine_plugin::tick_length() noexcept {
    return master_info != nullptr && !machine.faulted() ? master_info->samples_per_tick
                                                        : machine_host_callback::tick_length();
}

int machine_plugin::sample_rate() noexcept {
    return master_info != nullptr && !machine.faulted() ? master_info->samples_per_second
                                                        : machine_host_callback::sample_rate();
}

int machine_plugin::tempo() noexcept {
    return master_info != nullptr && !machine.faulted() ? master_info->beats_per_minute
                                                        : machine_host_callback::tempo();
}

int machine_plugin::beat_ticks() noexcept {
    return master_info != nullptr && !machine.faulted() ? master_info->ticks_per_beat
                                                        : machine_host_callback::beat_ticks();
}

} // namespace kestrune
