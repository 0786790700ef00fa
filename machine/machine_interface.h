// The native Psycle machine interface, as far as Kestrune uses it.
//
// A machine is a DLL that exports "GetInfo", "CreateMachine" and, optionally, "DeleteMachine".
// The machines that users have were built years ago with MSVC for 32-bit x86; Kestrune loads
// them by path, reads their description, creates one machine object per started instance and
// calls its virtual operations.
//
// ABI. Members are thiscall and the callee pops its arguments, so every slot takes exactly the
// 4-byte arguments the machine expects. The first slot is the destructor, and that is where
// the compilers differ:
//   - MSVC gives a virtual destructor one slot: the scalar deleting destructor, which takes an
//     unsigned flags argument (1: free the memory too).
//   - g++ gives it two slots (complete and deleting), which would shift every later slot.
// So a Windows build by a compiler that isn't MSVC declares slot 0 as an explicit function
// that takes the flags; calling it with 1 lets the machine's own runtime destroy and free it.
// Natively (Linux), machines are built with g++ and keep g++'s two-slot destructor.
#pragma once

#include <stddef.h> // not <cstddef>: freestanding MSVC-mode machines include this header too

#if defined(_WIN32)
#define MACHINE_CDECL __cdecl
#else
#define MACHINE_CDECL
#endif

#if defined(_WIN32) && !defined(_MSC_VER)
#define MACHINE_MSVC_DESTRUCTOR_SLOT 1
#else
#define MACHINE_MSVC_DESTRUCTOR_SLOT 0
#endif

namespace kestrune {

// One machine parameter, as the machine declares it. Owned by the machine's DLL and valid
// only while the DLL is loaded.
struct machine_parameter {
    const char* title;   // short name, e.g. "Cutoff"; may be longer than a host allows
    const char* caption; // longer name or description
    int lowest;          // inclusive range, in the machine's own values; not always ordered
    int highest;
    int flags; // 2 is carried to the host parameter; other bits are not read
    int default_value;
};

// What "GetInfo" answers. Owned by the machine's DLL and valid only while it is loaded.
struct machine_description {
    int api_version;                        // not read
    int kind_flags;                         // exactly 3: a generator; anything else: an effect
    int param_count;                        // entries of params
    const machine_parameter* const* params; // param_count pointers, in the machine's order
    const char* full_name;                  // e.g. "Kestrune Sine Pad"
    const char* short_label;                // e.g. "Sine"
    const char* author;
    const char* command_text; // the machine's own command, shown as entry 0
    int column_count;         // not read
};

// What a machine may ask of its host. Kestrune's instance is this callback (its second base);
// the machine gets a pointer to it in machine::callback before start_up and may call it from
// any operation, on the thread of that operation. The base answers are those of a host that
// knows nothing: the tempo queries answer fixed defaults.
class machine_host_callback {
public:
    // Shows a modal message box; answers the button pressed. The base shows nothing.
    virtual int message(const char* text, const char* caption, unsigned type) {
        (void)text, (void)caption, (void)type;
        return 0;
    }
    // Three operations that Kestrune's hosts never offered; their base answers stand.
    virtual int reserved_call(int a, int b, int c, int d) {
        (void)a, (void)b, (void)c, (void)d;
        return 0;
    }
    virtual int reserved_query_a(int a, int b) {
        (void)a, (void)b;
        return 0;
    }
    virtual int reserved_query_b(int a, int b) {
        (void)a, (void)b;
        return 0;
    }
    virtual int tick_length() { return 2048; }  // samples per tick
    virtual int sample_rate() { return 44100; } // samples per second
    virtual int tempo() { return 125; }         // beats per minute
    virtual int beat_ticks() { return 4; }      // ticks per beat

protected:
    // Not part of the interface: machines never destroy their host.
    ~machine_host_callback() = default;
};

// One machine object, made by "CreateMachine". Owned by the instance that created it and
// destroyed through "DeleteMachine" when the DLL has it, else through slot 0. All operations
// are called on the host thread of the host call that leads to them.
class machine {
public:
#if MACHINE_MSVC_DESTRUCTOR_SLOT
    // MSVC's scalar deleting destructor: destroys the machine, and frees it when flags has 1.
    virtual void destroy(unsigned flags) = 0;
#else
    // The destructor may throw; Kestrune's guard around the destruction catches it.
    virtual ~machine() noexcept(false) = default;
#endif
    virtual void start_up() {}   // once, after callback is set and before any other call
    virtual void reserved_3() {} // never called
    virtual void set_parameter(int index, int value) { // value in the machine's range
        (void)index, (void)value;
    }
    // Works two arrays of count samples in place, at full scale 32768, for tracks tracks.
    virtual void render_block(float* left, float* right, int count, int tracks) {
        (void)left, (void)right, (void)count, (void)tracks;
    }
    virtual void silence() {} // stop all sound
    virtual void load_data(unsigned char* buffer) {
        (void)buffer;
    } // take a stored state
    virtual void dump_data(unsigned char* buffer) {
        (void)buffer;
    } // write data_size() bytes
    virtual int data_size() {
        return 0;
    }                              // bytes of state, 0: none
    virtual void user_command() {} // the machine's own command
    virtual void mute_channel(int index) {
        (void)index;
    }
    virtual bool channel_muted(int index) {
        (void)index;
        return false;
    }
    virtual void midi_in(int channel, int value, int velocity) {
        (void)channel, (void)value, (void)velocity;
    }
    virtual void reserved_14() {} // never called
    // Writes the text of value (machine range) of parameter index into text, at most 128 bytes
    // with the terminator, and answers true; or answers false to let the host show a number.
    virtual bool describe(char* text, int index, int value) {
        (void)text, (void)index, (void)value;
        return false;
    }
    virtual void reserved_16() {} // never called
    // One note and command on a track: note is twelve to the octave, 120 is note-off.
    virtual void sequence_event(int channel, int note, int instrument, int command, int parameter) {
        (void)channel, (void)note, (void)instrument, (void)command, (void)parameter;
    }

    int* values = nullptr;                     // the machine's own; never used by Kestrune
    machine_host_callback* callback = nullptr; // set by Kestrune before start_up

#if MACHINE_MSVC_DESTRUCTOR_SLOT
protected:
    ~machine() = default; // reached only through destroy
#endif
};

// The exports, all cdecl.
using get_info_function = const machine_description*(MACHINE_CDECL*)();
using create_machine_function = machine*(MACHINE_CDECL*)();
using delete_machine_function = void(MACHINE_CDECL*)(machine*);

constexpr const char* get_info_export = "GetInfo";
constexpr const char* create_machine_export = "CreateMachine";
constexpr const char* delete_machine_export = "DeleteMachine";

// Destroys a machine through its own destructor slot, freeing its memory in the machine's own
// runtime. Used when the DLL has no "DeleteMachine".
inline void destroy_through_destructor(machine* m) {
#if MACHINE_MSVC_DESTRUCTOR_SLOT
    m->destroy(1);
#else
    delete m;
#endif
}

#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(machine_parameter) == 24);
static_assert(offsetof(machine_parameter, caption) == 4 &&
              offsetof(machine_parameter, lowest) == 8);
static_assert(offsetof(machine_parameter, highest) == 12 &&
              offsetof(machine_parameter, flags) == 16);
static_assert(offsetof(machine_parameter, default_value) == 20);
static_assert(sizeof(machine_description) == 36);
static_assert(offsetof(machine_description, kind_flags) == 4);
static_assert(offsetof(machine_description, param_count) == 8);
static_assert(offsetof(machine_description, params) == 12);
static_assert(offsetof(machine_description, full_name) == 16);
static_assert(offsetof(machine_description, short_label) == 20);
static_assert(offsetof(machine_description, author) == 24);
static_assert(offsetof(machine_description, command_text) == 28);
static_assert(offsetof(machine_description, column_count) == 32);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
static_assert(offsetof(machine, values) == 4 && offsetof(machine, callback) == 8);
static_assert(sizeof(machine) == 12);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
#endif

} // namespace kestrune
