// One host plug-in instance that drives one Psycle machine. The host gets it from
// machine_info::make_instance (through make_machine_plugin) and ends it with release. Creating it
// doesn't touch the machine's DLL: start loads the DLL, creates the machine, hands it this instance
// as its callback and starts it; release destroys the machine and frees the DLL. An instance whose
// machine failed to load stays usable: every operation that needs the machine then does nothing or
// gives its fixed answer.
//
// Every call into the machine is guarded (guarded_machine.h). A machine that faults is
// abandoned: the host's call returns with the answer of an instance without a machine, and so
// does every later one; the machine is never destroyed and its DLL never freed (either could
// fault again where no guard stands). The About box then says where and why it faulted. A
// later start loads a fresh machine.
//
// Threads: every operation runs on the host thread that calls it and takes no lock; the host
// never overlaps two calls on one instance. The machine's callbacks come on the same thread.
#pragma once

#include <memory>

#include "host/host_interface.h"
#include "machine/machine_info.h"
#include "machine/machine_interface.h"
#include "platform/platform.h"
#include "runtime/events.h"
#include "runtime/guarded_machine.h"
#include "runtime/value_layout.h"

namespace kestrune {

// Track records per track parameter in the track value area: twice the 32 tracks that a
// description offers, as the host has always had it.
constexpr int track_records_per_param = 32;

class machine_plugin final : public host_plugin, public machine_host_callback {
public:
    // A new instance of info, or null when its memory, its global value area (when it has
    // global parameters) or its track value area (when it has track parameters) can't be had.
    static machine_plugin* create(const machine_info& info) noexcept;

    machine_plugin(const machine_plugin&) = delete;
    machine_plugin& operator=(const machine_plugin&) = delete;

    // host_plugin, in slot order. Every slot is noexcept: the host is another compiler's
    // program, and nothing may unwind into it (a machine's own exceptions stop in the guard).
    void release() noexcept override;
    void start(host_archive* archive) noexcept override;
    void take_events() noexcept override;
    bool render(float** inputs, float** outputs, int count, int mode) noexcept override;
    void halt() noexcept override;
    void store_state(host_archive* archive) noexcept override;
    void attributes_updated() noexcept override;
    void run_command(int index) noexcept override;
    void set_tracks(int count) noexcept override;
    void mute(int track) noexcept override;
    bool is_muted(int track) noexcept override;
    void midi_key(int channel, int value, int velocity) noexcept override;
    void raw_event(unsigned data) noexcept override;
    const char* value_text(int index, int value) noexcept override;
    const void* envelope_list() noexcept override;
    bool start_wave(int wave, int note, float volume) noexcept override;
    void end_wave() noexcept override;
    int envelope_position(int envelope) noexcept override;
    const char* param_text(int param) noexcept override;
    bool choose_instrument(const char* name) noexcept override;
    void sub_menu(int index, host_outstream* menu) noexcept override;
    void input_added(const char* name) noexcept override;
    void input_removed(const char* name) noexcept override;
    void input_renamed(const char* old_name, const char* new_name) noexcept override;
    void mix_input(float** samples, int count, float amp) noexcept override;
    void midi_controller(int controller, int channel, int value) noexcept override;
    bool input_level(int index, int amp, int pan) noexcept override;
    // Frees the value areas only; release unloads the machine first.
    ~machine_plugin() override; // implicitly noexcept

    // machine_host_callback: the message box and the four tempo queries. The queries read the
    // master info that the host has installed at the time of the call; without one they
    // answer the callback's defaults. noexcept too: the machine that calls them is another
    // compiler's code.
    int message(const char* text, const char* caption, unsigned type) noexcept override;
    int tick_length() noexcept override;
    int sample_rate() noexcept override;
    int tempo() noexcept override;
    int beat_ticks() noexcept override;

    // Loads the DLL, copies its parameter ranges, creates the machine, sets its callback and
    // starts it; true when a machine now runs. Whatever was loaded before is unloaded first.
    // Nothing of the machine's memory is read or written outside the guard, and nothing is
    // allocated.
    bool load_machine();
    // Destroys the machine (guarded: whatever it raises is discarded) and frees the DLL; a
    // machine that faulted is abandoned instead, its DLL reference kept for good.
    void unload_machine();

    // Read-only views for tests and diagnostics.
    kestrune::machine* loaded_machine() const { return machine.target; }
    const machine_fault& fault() const { return machine.fault; }
    platform::module_handle loaded_library() const { return library; }
    int tracks() const { return track_count; }
    const value_layout& global_layout() const { return layout; }
    int track_records() const { return track_record_count; }

private:
    explicit machine_plugin(const machine_info& info) noexcept;
    event_source events() const;
    void forget_description(); // the ranges of the machine last loaded

    const machine_info* info;
    value_layout layout;
    std::unique_ptr<unsigned char[]> track_area; // track_record_count records of 3 bytes, or null
    int track_record_count = 0;
    platform::module_handle library = nullptr;
    guarded_machine machine; // its target is never set without library
    // The ranges of the machine's parameters as it described them at load time, one entry per
    // global parameter of the description (allocated with the instance), of which the first
    // machine_range_count were copied: the audio path never reads the machine's own table.
    std::unique_ptr<parameter_range[]> machine_ranges;
    int machine_range_capacity = 0;
    int machine_range_count = 0;
    char text_buffer[text_buffer_size] = {};
    int track_count = 0;
};

// The runtime's way of making instances (an instance_maker): machine_plugin::create, answered
// as the host's plug-in.
host_plugin* make_machine_plugin(const machine_info& info) noexcept;

} // namespace kestrune
