// One host plug-in instance that drives one Psycle machine. The host gets it from
// machine_info::make_instance (through make_machine_plugin) and ends it with release. Creating it
// doesn't touch the machine's DLL: start loads the DLL, creates the machine, hands it a callback
// object of its own (machine_callback.h, which forwards to this instance) and starts it; release
// destroys the machine, frees its callback and the DLL. An instance whose machine failed to load
// stays usable: every operation that needs the machine then does nothing or gives its fixed
// answer.
//
// Every call into the machine is guarded (guarded_machine.h). A machine that faults is
// abandoned: the host's call returns with the answer of an instance without a machine, and so
// does every later one; the machine is never destroyed and its DLL never freed (either could
// fault again where no guard stands). Its callback answers the base answers from the fault on,
// is detached when the machine is abandoned and is kept for good, and the first abandonment
// pins Kestrune's own module, so that a faulted machine's timer or thread that calls it later
// still finds it. The About box then says where and why it faulted. A later start loads a fresh
// machine. The fault costs no state: a store writes the last state blob that the machine was
// handed or gave (state.h), and the later start hands it to the fresh machine.
//
// Isolation: an instance may run its machine in a bridge process of its own instead
// (bridge_client.h), as its description's setting says (machine/isolation.h): by default after
// its machine, or any machine of the same DLL in this process, faulted. Only the machine's calls
// cross the process line; the value areas, ranges, events, state blob and About box stay here,
// and so do the rules below. Where no bridge can be started the machine runs in process.
//
// Re-entry: while a call into the machine is in progress (its message box or dialog is up, and
// the host's message loop runs inside it), the host may call this instance again on the same
// thread. Such a call reaches nothing and answers as an instance without a machine; render
// silences its outputs and value_text answers an empty text. A release then only marks the
// instance: the outermost call completes it when the machine returns or faults.
//
// Threads: every operation runs on the host thread that calls it and takes no lock; the host
// never overlaps two calls on one instance from different threads. The machine's callbacks
// come on the same thread.
#pragma once

#include <memory>

#include "calls/bridge_client.h"
#include "calls/guarded_machine.h"
#include "host/host_interface.h"
#include "machine/machine_info.h"
#include "machine/machine_interface.h"
#include "platform/module.h"
#include "runtime/events.h"
#include "runtime/machine_callback.h"
#include "runtime/state.h"
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

    // machine_host_callback, reached through the machine's callback object while it is attached:
    // the message box and the four tempo queries. The queries read the master info that the
    // host has installed at the time of the call; without one, and once the machine has
    // faulted, they give the base answers (and message shows nothing). noexcept too: the
    // machine that calls them is another compiler's code.
    int message(const char* text, const char* caption, unsigned type) noexcept override;
    int tick_length() noexcept override;
    int sample_rate() noexcept override;
    int tempo() noexcept override;
    int beat_ticks() noexcept override;

    // Loads the DLL, copies its parameter ranges, creates the machine, gives it a new callback
    // object and starts it; true when a machine now runs. Whatever was loaded before is unloaded
    // first. Nothing of the machine's memory is read or written outside the guard.
    bool load_machine();
    // Destroys the machine (guarded: whatever it raises is discarded), then frees its callback
    // and the DLL; a machine that faulted is abandoned instead, its DLL reference and its
    // detached callback kept for good.
    void unload_machine();

    // Read-only views for tests and diagnostics.
    kestrune::machine* loaded_machine() const { return machine.target; }
    const machine_fault& fault() const { return machine.fault; }
    platform::module_handle loaded_library() const { return library; }
    const machine_callback* loaded_callback() const { return callback; }
    // Whether the last start ran the machine in a bridge process (it may have faulted since).
    bool isolated() const { return in_bridge; }
    // What the About box says of the process: "own", "host", or null when not meant isolated.
    const char* about_process() const { return process_text(); }
    int tracks() const { return track_count; }
    const value_layout& global_layout() const { return layout; }
    int track_records() const { return track_record_count; }
    // The state kept for a fault (state.h): empty, or the data of the last blob.
    const byte_buffer& kept_blob() const { return kept_state; }

private:
    explicit machine_plugin(const machine_info& info) noexcept;
    event_source events() const;
    void forget_description(); // the ranges of the machine last loaded
    // Whether the next start should run its machine in a bridge process.
    bool wants_isolation() const noexcept;
    // Starts the machine in a bridge process: false when none can be started, or (unless it is
    // isolated for a fault) its machine can't be had there; else true, with started telling
    // whether a machine now runs.
    bool load_isolated(bool& started, bool for_fault) noexcept;
    // What the About box says of the process, for an instance that was meant to run isolated.
    const char* process_text() const noexcept;
    // Re-entry bookkeeping around each host call that reaches the machine: enter answers false
    // for a re-entrant call (which must then reach nothing); leave answers false when a release
    // came meanwhile, in which case the instance is gone and the caller must not touch it.
    bool enter() noexcept;
    bool leave() noexcept;
    void finish_release() noexcept; // unloads the machine and deletes this instance

    const machine_info* info;
    value_layout layout;
    std::unique_ptr<unsigned char[]> track_area; // track_record_count records of 3 bytes, or null
    int track_record_count = 0;
    platform::module_handle library = nullptr;
    guarded_machine machine;              // its target is never set without library
    machine_callback* callback = nullptr; // the loaded machine's, or null
    // The ranges of the machine's parameters as it described them at load time, one entry per
    // global parameter of the description (allocated with the instance), of which the first
    // machine_range_count were copied: the audio path never reads the machine's own table.
    std::unique_ptr<parameter_range[]> machine_ranges;
    int machine_range_count = 0;
    char text_buffer[text_buffer_size] = {};
    int track_count = 0;
    std::unique_ptr<bridge_client> bridge; // made by the first isolated start, kept for the next
    bool meant_isolated = false;           // the last start wanted a bridge...
    bool in_bridge = false;                // ...and got one
    bool fault_noted = false;              // the machine's fault is in faulted_libraries
    int calls_in_progress = 0;             // host calls now inside the machine: 0 or 1
    bool release_pending = false;          // released during a call: the call's end completes it
    // The data of the last state blob handed to the machine or taken from it (state.h): what a
    // store writes once the machine has faulted, and the next start restores.
    byte_buffer kept_state;
};

// The runtime's way of making instances (an instance_maker): machine_plugin::create, answered
// as the host's plug-in.
host_plugin* make_machine_plugin(const machine_info& info) noexcept;

} // namespace kestrune
