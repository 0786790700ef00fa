// What a demo machine needs to be a plain Psycle machine DLL on both builds: the exports'
// linkage and the destructor slot. A demo machine derives from demo_machine<itself> and
// declares its destructor as usual; DEMO_EXPORT marks "GetInfo", "CreateMachine" and
// "DeleteMachine".
//
// The demo machines know nothing of Kestrune: they see only the machine interface, exactly as
// the machines that users have been given by other people do.
#pragma once

#include "machine/machine_interface.h"

#if defined(_WIN32)
#define DEMO_EXPORT extern "C" __declspec(dllexport)
#else
#define DEMO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace demo {

#if MACHINE_MSVC_DESTRUCTOR_SLOT
// Slot 0 is MSVC's scalar deleting destructor: destroy, and free when flags has 1. A host
// built by MSVC calls it this way, so the machine frees itself in its own runtime.
template <class Derived>
class demo_machine : public kestrune::machine {
public:
    void destroy(unsigned flags) override {
        auto* self = static_cast<Derived*>(this);
        if (flags & 1) {
            delete self;
        } else {
            self->~Derived();
        }
    }

protected:
    ~demo_machine() = default; // reached only through destroy
};
#else
template <class Derived>
class demo_machine : public kestrune::machine {};
#endif

// Clamps a value into the inclusive range lo..hi.
inline int clamp_int(int value, int lo, int hi) {
    return value < lo ? lo : (value > hi ? hi : value);
}

// Little-endian 32-bit integers in a state block; the machine's own format.
inline void put_int(unsigned char* at, int value) {
    auto bits = static_cast<unsigned>(value);
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(bits >> (8 * i));
    }
}

inline int get_int(const unsigned char* at) {
    unsigned bits = 0;
    for (int i = 0; i < 4; ++i) {
        bits |= static_cast<unsigned>(at[i]) << (8 * i);
    }
    return static_cast<int>(bits);
}

// Both demo machines store their state the same way: the version word 1, then each
// parameter's value, all little-endian 32-bit integers.
constexpr int state_version = 1;
constexpr int state_size(int param_count) {
    return 4 * (1 + param_count);
}

inline void dump_values(unsigned char* buffer, const int* values, int count) {
    if (buffer == nullptr) {
        return;
    }
    put_int(buffer, state_version);
    for (int i = 0; i < count; ++i) {
        put_int(buffer + 4 * (1 + i), values[i]);
    }
}

// Hands each stored value to set(index, value); nothing when buffer holds no state of ours,
// so the machine keeps its defaults.
template <class Set>
void load_values(const unsigned char* buffer, int count, Set set) {
    if (buffer == nullptr || get_int(buffer) != state_version) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        set(i, get_int(buffer + 4 * (1 + i)));
    }
}

} // namespace demo
