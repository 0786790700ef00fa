#include "runtime/guarded_machine.h"

#include "platform/platform.h"

namespace kestrune {

namespace {

// The guard takes a plain function and a context: the context is the call's closure, which
// holds references only, so nothing with a destructor lies between the guard and the machine.
template <class Call>
void invoke(void* context) {
    (*static_cast<Call*>(context))();
}

} // namespace

template <class Call>
bool guarded_machine::guard(const char* name, Call& call) {
    unsigned code = 0;
    if (platform::guarded_call(invoke<Call>, &call, &code)) {
        return true;
    }
    fault.call = name;
    fault.code = code;
    target = nullptr;
    return false;
}

template <class Call>
bool guarded_machine::call_machine(const char* name, Call& call) {
    return target != nullptr && guard(name, call);
}

bool guarded_machine::get_info(get_info_function export_function,
                               const machine_description*& description) {
    description = nullptr;
    auto call = [&] { description = export_function(); };
    if (guard("GetInfo", call)) {
        return true;
    }
    description = nullptr;
    return false;
}

bool guarded_machine::create(create_machine_function export_function) {
    kestrune::machine* created = nullptr;
    auto call = [&] { created = export_function(); };
    if (!guard("CreateMachine", call)) {
        return false; // whatever it made by then is abandoned with its DLL
    }
    target = created;
    return true;
}

bool guarded_machine::start_up() {
    auto call = [&] { target->start_up(); };
    return call_machine("start_up", call);
}

bool guarded_machine::load_data(unsigned char* buffer) {
    auto call = [&] { target->load_data(buffer); };
    return call_machine("load_data", call);
}

bool guarded_machine::set_parameter(int index, int value) {
    auto call = [&] { target->set_parameter(index, value); };
    return call_machine("set_parameter", call);
}

bool guarded_machine::sequence_event(int channel, int note, int instrument, int command,
                                     int parameter) {
    auto call = [&] { target->sequence_event(channel, note, instrument, command, parameter); };
    return call_machine("sequence_event", call);
}

bool guarded_machine::render_block(float* left, float* right, int count, int tracks) {
    auto call = [&] { target->render_block(left, right, count, tracks); };
    return call_machine("render_block", call);
}

bool guarded_machine::silence() {
    auto call = [&] { target->silence(); };
    return call_machine("silence", call);
}

bool guarded_machine::data_size(int& size) {
    int answer = 0;
    auto call = [&] { answer = target->data_size(); };
    if (!call_machine("data_size", call)) {
        return false;
    }
    size = answer;
    return true;
}

bool guarded_machine::dump_data(unsigned char* buffer) {
    auto call = [&] { target->dump_data(buffer); };
    return call_machine("dump_data", call);
}

bool guarded_machine::user_command() {
    auto call = [&] { target->user_command(); };
    return call_machine("user_command", call);
}

bool guarded_machine::mute_channel(int index) {
    auto call = [&] { target->mute_channel(index); };
    return call_machine("mute_channel", call);
}

bool guarded_machine::channel_muted(int index, bool& muted) {
    bool answer = false;
    auto call = [&] { answer = target->channel_muted(index); };
    if (!call_machine("channel_muted", call)) {
        return false;
    }
    muted = answer;
    return true;
}

bool guarded_machine::midi_in(int channel, int value, int velocity) {
    auto call = [&] { target->midi_in(channel, value, velocity); };
    return call_machine("midi_in", call);
}

bool guarded_machine::describe(char* text, int index, int value, bool& described) {
    bool answer = false;
    auto call = [&] { answer = target->describe(text, index, value); };
    if (!call_machine("describe", call)) {
        return false;
    }
    described = answer;
    return true;
}

void guarded_machine::destroy(delete_machine_function delete_export) {
    if (target == nullptr) {
        return;
    }
    kestrune::machine* doomed = target;
    target = nullptr;
    auto call = [&] {
        if (delete_export != nullptr) {
            delete_export(doomed);
        } else {
            destroy_through_destructor(doomed);
        }
    };
    unsigned discarded = 0;
    platform::guarded_call(invoke<decltype(call)>, &call, &discarded);
}

} // namespace kestrune
