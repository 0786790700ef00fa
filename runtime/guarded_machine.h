// Every call that Kestrune makes into a machine, each one inside the platform's guard. Machines
// are other people's old DLLs: a machine that faults in a call (an access violation, an MSVC
// C++ throw, a stack overflow; natively any C++ exception) must not take the host down. The
// first fault is recorded with the call's name and what was raised, and the machine is
// abandoned at once: from then on nothing reaches it, not even its destruction, since both the
// object and its DLL may hold state that the fault left broken.
//
// Each operation answers true when the machine returned, false when it faulted now or had no
// machine to call. Nothing here allocates or throws, so the audio path may use it.
#pragma once

#include "machine/machine_interface.h"

namespace kestrune {

// Where and how a machine faulted.
struct machine_fault {
    const char* call = nullptr; // the machine call that raised, e.g. "render_block"; null: none
    unsigned code = 0;          // what it raised: a Windows exception code; natively always
                                // platform::cxx_exception_code
};

class guarded_machine {
public:
    guarded_machine() = default;
    explicit guarded_machine(kestrune::machine* machine) : target(machine) {}

    kestrune::machine* target = nullptr; // the machine calls go to; null: none, or abandoned
    machine_fault fault;                 // the first fault since the last forget_fault

    bool faulted() const { return fault.call != nullptr; }
    // Forgets the fault of an abandoned machine, for a fresh one.
    void forget_fault() { fault = machine_fault{}; }

    // The two exports that a start calls. get_info leaves description null when the machine
    // answers none; create sets target to what "CreateMachine" answers.
    bool get_info(get_info_function export_function, const machine_description*& description);
    bool create(create_machine_function export_function);

    // The machine's operations (machine_interface.h), by the same names. The answers of
    // data_size, channel_muted and describe go into the last argument, untouched on a fault.
    bool start_up();
    bool load_data(unsigned char* buffer);
    bool set_parameter(int index, int value);
    bool sequence_event(int channel, int note, int instrument, int command, int parameter);
    bool render_block(float* left, float* right, int count, int tracks);
    bool silence();
    bool data_size(int& size);
    bool dump_data(unsigned char* buffer);
    bool user_command();
    bool mute_channel(int index);
    bool channel_muted(int index, bool& muted);
    bool midi_in(int channel, int value, int velocity);
    bool describe(char* text, int index, int value, bool& described);

    // Destroys the machine through "DeleteMachine" when given, else its destructor slot.
    // Whatever that raises is discarded and not recorded. target is null afterwards.
    void destroy(delete_machine_function delete_export);

private:
    template <class Call>
    bool guard(const char* name, Call& call);
    template <class Call>
    bool call_machine(const char* name, Call& call);
};

} // namespace kestrune
