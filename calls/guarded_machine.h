// Every call that Kestrune makes into a machine, each one inside the platform's guard. Machines
// are other people's old DLLs: a machine that faults in a call (an access violation, an MSVC
// C++ throw, a stack overflow; natively any C++ exception) must not take the host down. The
// first fault is recorded with the call's name and what was raised, and the machine is
// abandoned at once: from then on nothing reaches it, not even its destruction, since both the
// object and its DLL may hold state that the fault left broken.
//
// Each operation answers true when the machine returned, false when it faulted now or had no
// machine to call. Nothing here allocates or throws, so the audio path may use it.
//
// An isolated instance's machine runs in a bridge process of its own: bridge is then set, and
// every operation goes there instead (bridge_client.h), where it is guarded the same way. A
// fault there is recorded here as any other, and bridge is null again.
#pragma once

#include "calls/bridge_client.h"
#include "calls/machine_fault.h"
#include "machine/machine_interface.h"
#include "platform/guard.h"
#include "platform/module.h"

namespace kestrune {

// The size of the text buffer that describe hands a machine for a value's text.
constexpr int text_buffer_size = 128;

class guarded_machine {
public:
    guarded_machine() = default;
    explicit guarded_machine(kestrune::machine* machine) : target(machine) {}

    kestrune::machine* target = nullptr; // the machine calls go to; null: none, or abandoned
    // Set instead of target while the machine runs in a bridge process: the calls go there.
    // Not owned (the instance owns it).
    bridge_client* bridge = nullptr;
    machine_fault fault; // the first fault since the last forget_fault
    // The machine's own floating-point settings: in force during each of its calls, and what
    // it leaves in force after one is kept for the next. Start: what its DLL's load code left
    // (platform::load_library), or the thread's settings when this was made.
    platform::fp_settings fp = platform::current_fp_settings();

    // Set when the host released the instance while one of its calls was inside the machine:
    // from then on no call reaches the machine, though destroy still does.
    bool closing = false;

    bool faulted() const { return fault.call != nullptr; }
    // Whether there is a machine to call, here or in a bridge.
    bool running() const { return target != nullptr || bridge != nullptr; }
    // Forgets the fault of an abandoned machine, for a fresh one.
    void forget_fault() { fault = machine_fault{}; }

    // The two exports that a start calls, each with the first use of its answer in the same
    // guard, as that answer is the machine's memory: get_info hands what "GetInfo" answers
    // (null for none) to read(description), and a fault while read reads it is GetInfo's;
    // create sets target to what "CreateMachine" answers and, when that isn't null, writes
    // callback into it, and a fault while it does is CreateMachine's.
    template <class Read>
    bool get_info(get_info_function export_function, Read& read);
    bool create(create_machine_function export_function, machine_host_callback* callback);

    // The machine's operations (machine_interface.h), by the same names. The answers of
    // data_size, channel_muted and describe go into the last argument, untouched on a fault.
    bool start_up();
    // size: the bytes of buffer, which a bridge carries across (the machine isn't told).
    bool load_data(unsigned char* buffer, int size);
    bool set_parameter(int index, int value);
    bool sequence_event(int channel, int note, int instrument, int command, int parameter);
    bool render_block(float* left, float* right, int count, int tracks);
    bool silence();
    bool data_size(int& size);
    bool dump_data(unsigned char* buffer, int size);
    bool user_command();
    bool mute_channel(int index);
    bool channel_muted(int index, bool& muted);
    bool midi_in(int channel, int value, int velocity);
    bool describe(char* text, int index, int value, bool& described);

    // Destroys the machine through "DeleteMachine" when given, else its destructor slot.
    // Whatever that raises is discarded and not recorded. target is null afterwards.
    void destroy(delete_machine_function delete_export);

private:
    // What a bridged call answered: a fault there is recorded here, and the bridge let go.
    bool bridged(bool answered);
    template <class Call>
    bool guard(const char* name, Call& call);
    template <class Call>
    bool call_machine(const char* name, Call& call);
};

// Defined here so that each host operation calls the platform's guard directly: the guard is
// on the audio path, once per machine call. The call is a closure that holds references only,
// so nothing with a destructor lies between the guard and the machine.

template <class Call>
inline bool guarded_machine::guard(const char* name, Call& call) {
    unsigned code = 0;
    if (platform::guarded_call(platform::catching_call<Call>, &call, &code, &fp)) {
        return true;
    }
    fault.call = name;
    fault.code = code;
    target = nullptr;
    return false;
}

template <class Call>
inline bool guarded_machine::call_machine(const char* name, Call& call) {
    return target != nullptr && !closing && guard(name, call);
}

template <class Read>
inline bool guarded_machine::get_info(get_info_function export_function, Read& read) {
    auto call = [&] { read(export_function()); };
    return guard("GetInfo", call);
}

inline bool guarded_machine::start_up() {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->start_up());
    }
    auto call = [&] { target->start_up(); };
    return call_machine("start_up", call);
}

inline bool guarded_machine::load_data(unsigned char* buffer, int size) {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->load_data(buffer, size));
    }
    auto call = [&] { target->load_data(buffer); };
    return call_machine("load_data", call);
}

inline bool guarded_machine::set_parameter(int index, int value) {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->set_parameter(index, value));
    }
    auto call = [&] { target->set_parameter(index, value); };
    return call_machine("set_parameter", call);
}

inline bool guarded_machine::sequence_event(int channel, int note, int instrument, int command,
                                            int parameter) {
    if (bridge != nullptr) {
        return !closing &&
               bridged(bridge->sequence_event(channel, note, instrument, command, parameter));
    }
    auto call = [&] { target->sequence_event(channel, note, instrument, command, parameter); };
    return call_machine("sequence_event", call);
}

inline bool guarded_machine::render_block(float* left, float* right, int count, int tracks) {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->render_block(left, right, count, tracks));
    }
    auto call = [&] { target->render_block(left, right, count, tracks); };
    return call_machine("render_block", call);
}

inline bool guarded_machine::silence() {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->silence());
    }
    auto call = [&] { target->silence(); };
    return call_machine("silence", call);
}

inline bool guarded_machine::data_size(int& size) {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->data_size(size));
    }
    int answer = 0;
    auto call = [&] { answer = target->data_size(); };
    if (!call_machine("data_size", call)) {
        return false;
    }
    size = answer;
    return true;
}

inline bool guarded_machine::dump_data(unsigned char* buffer, int size) {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->dump_data(buffer, size));
    }
    auto call = [&] { target->dump_data(buffer); };
    return call_machine("dump_data", call);
}

inline bool guarded_machine::user_command() {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->user_command());
    }
    auto call = [&] { target->user_command(); };
    return call_machine("user_command", call);
}

inline bool guarded_machine::mute_channel(int index) {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->mute_channel(index));
    }
    auto call = [&] { target->mute_channel(index); };
    return call_machine("mute_channel", call);
}

inline bool guarded_machine::channel_muted(int index, bool& muted) {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->channel_muted(index, muted));
    }
    bool answer = false;
    auto call = [&] { answer = target->channel_muted(index); };
    if (!call_machine("channel_muted", call)) {
        return false;
    }
    muted = answer;
    return true;
}

inline bool guarded_machine::midi_in(int channel, int value, int velocity) {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->midi_in(channel, value, velocity));
    }
    auto call = [&] { target->midi_in(channel, value, velocity); };
    return call_machine("midi_in", call);
}

inline bool guarded_machine::describe(char* text, int index, int value, bool& described) {
    if (bridge != nullptr) {
        return !closing && bridged(bridge->describe(text, index, value, described));
    }
    bool answer = false;
    auto call = [&] { answer = target->describe(text, index, value); };
    if (!call_machine("describe", call)) {
        return false;
    }
    described = answer;
    return true;
}

} // namespace kestrune
