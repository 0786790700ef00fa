// What a machine DLL that we build (the demo machines, the test fixtures) needs to be a plain
// Psycle machine DLL on both builds: the exports' linkage and the destructor slot. A machine
// derives from built_machine<itself> and declares its destructor as usual; DLL_EXPORT marks
// "GetInfo", "CreateMachine", "DeleteMachine" and any other export.
//
// Header-only, and it includes the machine interface alone: fixtures are also compiled in MSVC
// mode, freestanding, with only the source root on their include path. So machines include it
// as "tools/hostkit/hostkit/built_machine.h".
#pragma once

#include "machine/machine_interface.h"

#if defined(_WIN32)
#define DLL_EXPORT extern "C" __declspec(dllexport)
#else
#define DLL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace hostkit {

#if MACHINE_MSVC_DESTRUCTOR_SLOT
// Slot 0 is MSVC's scalar deleting destructor: destroy, and free when flags has 1. A host
// built by MSVC calls it this way, so the machine frees itself in its own runtime.
template <class Derived>
class built_machine : public kestrune::machine {
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
    ~built_machine() = default; // reached only through destroy
};
#else
template <class Derived>
class built_machine : public kestrune::machine {};
#endif

} // namespace hostkit
