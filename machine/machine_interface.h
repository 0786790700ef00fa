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
    // 0: shows a modal message box; answers the button pressed. The base shows nothing.
    virtual int message(const char* text, const char* caption, unsigned type) {
        (void)text, (void)caption, (void)type;
        return 0;
    }
    // 1 to 3: operations that Kestrune's hosts never offered; their base answers stand.
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
    virtual int tick_length() { return 2048; }  // 4: samples per tick
    virtual int sample_rate() { return 44100; } // 5: samples per second
    virtual int tempo() { return 125; }         // 6: beats per minute
    virtual int beat_ticks() { return 4; }      // 7: ticks per beat

protected:
    // Not part of the interface: machines never destroy their host.
    ~machine_host_callback() = default;
};

// One machine object, made by "CreateMachine". Owned by the instance that created it and
// destroyed through "DeleteMachine" when the DLL has it, else through slot 0. Slots are
// numbered from 0, as everywhere in Kestrune. Every operation is called by Kestrune's instance
// on the host thread of the host call that leads to it, one at a time, inside the fault guard,
// and only after start_up; buffers handed in are Kestrune's or the host's, lent for the call.
class machine {
public:
#if MACHINE_MSVC_DESTRUCTOR_SLOT
    // 0: MSVC's scalar deleting destructor: destroys the machine, and frees it when flags has 1.
    virtual void destroy(unsigned flags) = 0;
#else
    // 0 (two slots in g++'s ABI): may throw; Kestrune's guard around the destruction catches it.
    virtual ~machine() noexcept(false) = default;
#endif
    virtual void start_up() {}   // 1: once, from start, after callback is set, before any other
    virtual void reserved_3() {} // 2: never called
    // 3: from take_events: a changed global value, index the machine's parameter, value in its
    // own range.
    virtual void set_parameter(int index, int value) {
        (void)index, (void)value;
    }
    // 4: from render: works the host's two arrays of count samples in place, at full scale
    // 32768, for tracks tracks.
    virtual void render_block(float* left, float* right, int count, int tracks) {
        (void)left, (void)right, (void)count, (void)tracks;
    }
    virtual void silence() {} // 5: from halt: stop all sound
    // 6: from start: take a stored state from Kestrune's buffer, which holds at least the size
    // that data_size gave when it was stored.
    virtual void load_data(unsigned char* buffer) {
        (void)buffer;
    }
    // 7: from store_state: write data_size() bytes into Kestrune's buffer.
    virtual void dump_data(unsigned char* buffer) {
        (void)buffer;
    }
    // 8: from store_state: bytes of state; 0 for none.
    virtual int data_size() {
        return 0;
    }
    virtual void user_command() {} // 9: from run_command(0): the machine's own command
    // 10: from mute: mute track index.
    virtual void mute_channel(int index) {
        (void)index;
    }
    // 11: from is_muted: whether track index is muted.
    virtual bool channel_muted(int index) {
        (void)index;
        return false;
    }
    // 12: from midi_key: a MIDI note on channel.
    virtual void midi_in(int channel, int value, int velocity) {
        (void)channel, (void)value, (void)velocity;
    }
    virtual void reserved_14() {} // 13: never called
    // 14: from value_text: writes the text of value (machine range) of parameter index into
    // Kestrune's text, at most 128 bytes with the terminator, and answers true; or answers
    // false to let the host show a number.
    virtual bool describe(char* text, int index, int value) {
        (void)text, (void)index, (void)value;
        return false;
    }
    virtual void reserved_16() {} // 15: never called
    // 16: from take_events: one note and command on a track: note is twelve to the octave,
    // 120 is note-off.
    virtual void sequence_event(int channel, int note, int instrument, int command, int parameter) {
        (void)channel, (void)note, (void)instrument, (void)command, (void)parameter;
    }

    int* values = nullptr; // the machine's own; never read or written by Kestrune
    // Set by Kestrune before start_up to its instance; valid for as long as Kestrune calls in.
    machine_host_callback* callback = nullptr;

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
