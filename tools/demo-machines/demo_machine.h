// What the demo machines share: a base that keeps their parameter values in range and stores
// them as their state, a clamp, and their three exports.
//
// The demo machines know nothing of Kestrune: they see only the machine interface, exactly as
// the machines that users have been given by other people do.
#pragma once

#include <new>

#include "machine/machine_interface.h"
#include "tools/hostkit/hostkit/built_machine.h"
#include "tools/hostkit/hostkit/little_endian.h"

namespace demo {

// Clamps a value into the inclusive range lo..hi.
inline int clamp_int(int value, int lo, int hi) {
    return value < lo ? lo : (value > hi ? hi : value);
}

// A demo machine with Count parameters: each value starts at its default and stays in its
// range. The state is the version word 1, then each value, all little-endian 32-bit integers;
// a state that isn't ours leaves the values as they are.
template <class Derived, int Count>
class parameter_machine : public hostkit::built_machine<Derived> {
public:
    explicit parameter_machine(const kestrune::machine_parameter* const* params) : params_(params) {
        for (int i = 0; i < Count; ++i) {
            value_[i] = params_[i]->default_value;
        }
    }

    void set_parameter(int index, int value) override { store(index, value); }

    void load_data(unsigned char* buffer) override {
        if (buffer == nullptr || hostkit::read_le(buffer) != state_version) {
            return;
        }
        for (int i = 0; i < Count; ++i) {
            this->set_parameter(i, static_cast<int>(hostkit::read_le(buffer + 4 * (1 + i))));
        }
    }

    void dump_data(unsigned char* buffer) override {
        if (buffer == nullptr) {
            return;
        }
        hostkit::write_le(buffer, state_version);
        for (int i = 0; i < Count; ++i) {
            hostkit::write_le(buffer + 4 * (1 + i), static_cast<unsigned>(value_[i]));
        }
    }

    int data_size() override { return 4 * (1 + Count); }

protected:
    ~parameter_machine() = default;

    // The value clamped into parameter index's range; false (and nothing kept) for an index
    // that isn't one.
    bool store(int index, int value) {
        if (index < 0 || index >= Count) {
            return false;
        }
        value_[index] = clamp_int(value, params_[index]->lowest, params_[index]->highest);
        return true;
    }

    // Whether describe has a text to write to and a value in parameter index's range.
    bool describable(const char* text, int index, int value) const {
        return text != nullptr && index >= 0 && index < Count && value >= params_[index]->lowest &&
               value <= params_[index]->highest;
    }

    int value_[Count] = {};

private:
    static constexpr unsigned state_version = 1;
    const kestrune::machine_parameter* const* params_;
};

} // namespace demo

// The exports of a demo machine: its description, and a machine of machine_class made and
// deleted.
#define DEMO_MACHINE_EXPORTS(machine_class, description)                                           \
    DLL_EXPORT const kestrune::machine_description* GetInfo() {                                    \
        return &(description);                                                                     \
    }                                                                                              \
    DLL_EXPORT kestrune::machine* CreateMachine() {                                                \
        return new (std::nothrow) machine_class;                                                   \
    }                                                                                              \
    DLL_EXPORT void DeleteMachine(kestrune::machine* m) {                                          \
        if (m != nullptr) {                                                                        \
            kestrune::destroy_through_destructor(m);                                               \
        }                                                                                          \
    }
