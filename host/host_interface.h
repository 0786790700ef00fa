// The zzub host's plug-in interface, as far as Kestrune uses it.
//
// The host loads kestrune.dll, calls its two exports and from then on talks to it only through
// the classes below. Kestrune implements host_collection (machine_collection), host_info
// (machine_info) and host_plugin (machine_plugin); the host implements host_factory,
// host_archive and the two streams, and owns host_master_info.
//
// ABI. The hosts that users have are 32-bit MSVC programs. Every member function is thiscall
// (mingw g++'s default for members too) and the callee pops its arguments, so each slot must
// take exactly the number of 4-byte arguments that the host pushes. The destructors of these
// classes stand last, after every operation, so the operations line up whether the destructor
// takes one slot (MSVC) or two (g++). Nothing here returns a struct by value and nothing is
// overloaded, since MSVC and g++ disagree on both.
//
// Threads: every operation runs on the host thread that calls it; the host never overlaps two
// calls on one object.
#pragma once

#include <cstddef>

namespace kestrune {

class host_plugin;
class host_archive;
class host_info;
struct host_services;  // the host's own services object; Kestrune never looks inside
struct host_attribute; // an attribute description; Kestrune announces none

// A global or track parameter, as the host shows and stores it. Plain record; the machine_info
// that holds it owns it, and the host only borrows it.
struct host_parameter {
    int kind;            // 0 note, 1 switch, 2 byte, 3 word: also the value's width (1, 1, 1, 2)
    const char* title;   // the name in lists; points into the owning description
    const char* caption; // the longer name; points into the owning description
    int lowest;          // smallest valid value
    int highest;         // largest valid value
    int empty_value;     // the value that means "no change" in a value area
    int flags;           // 2: carried from the machine parameter's flag 2; 4: on the note
    int default_value;   // the value of a new instance
};

// Song position and timing, owned by the host. It may hold more fields than these four;
// Kestrune reads only these, and only through the pointer the host gives each instance.
struct host_master_info {
    int beats_per_minute;   // the song's tempo; the machine's tempo query
    int ticks_per_beat;     // pattern rows per beat; the machine's beat_ticks query
    int samples_per_second; // the sample rate; the machine's sample_rate query
    int samples_per_tick;   // samples per pattern row; the machine's tick_length query
};

// A stream that the host archive hands out for writing an instance's state.
class host_outstream {
public:
    // 0: called by Kestrune during store_state; appends size bytes from buffer, which stays
    // Kestrune's. Kestrune ignores the answer.
    virtual int write_bytes(const void* buffer, int size) = 0;
    // Last, so the slots above line up in both ABIs. The host owns its streams.
    virtual ~host_outstream() = default;
};

// A stream that the host archive hands out for reading an instance's state back.
class host_instream {
public:
    // 0: called by Kestrune during start; reads up to size bytes into Kestrune's buffer.
    // Kestrune ignores the answer: what isn't delivered leaves the buffer as it was.
    virtual int read_bytes(void* buffer, int size) = 0;
    virtual ~host_instream() = default; // last; Kestrune never destroys the host's objects
};

// The host's store of named streams, one per instance in a song. Owned by the host and lent
// for the length of one call.
class host_archive {
public:
    // 0: during store_state; the stream to write under name, or null; the archive owns it.
    // Kestrune always asks for the name "".
    virtual host_outstream* output_stream(const char* name) = 0;
    // 1: during start; the stream to read under name, or null; the archive owns it. Kestrune
    // always asks for the name "".
    virtual host_instream* input_stream(const char* name) = 0;
    virtual ~host_archive() = default; // last; Kestrune never destroys the host's objects
};

// The host's receiver of descriptions, handed to host_collection::setup.
class host_factory {
public:
    // 0: called by Kestrune once per machine found, during setup. The host keeps the pointer; the
    // description stays valid until the collection's release. The answer is not used.
    virtual void announce(host_info* info) = 0;
    virtual ~host_factory() = default; // last; Kestrune never destroys the host's objects
};

// A read-only view of one of a description's parameter lists, in the list's order. It borrows
// the description's storage and is valid while the description's lists stay as they are.
class param_list {
public:
    param_list() = default;
    param_list(host_parameter* const* first, host_parameter* const* last) noexcept
        : first_(first), last_(last) {}
    std::size_t size() const noexcept { return static_cast<std::size_t>(last_ - first_); }
    bool empty() const noexcept { return first_ == last_; }
    // Parameter i; the caller checks that i is below size().
    host_parameter* operator[](std::size_t i) const noexcept { return first_[i]; }
    host_parameter* const* begin() const noexcept { return first_; }
    host_parameter* const* end() const noexcept { return last_; }

private:
    host_parameter* const* first_ = nullptr;
    host_parameter* const* last_ = nullptr;
};

// The pointers that the three lists of a description with n global and m track parameters take.
constexpr std::size_t list_slots(std::size_t n, std::size_t m) {
    return 2 * n + 3 * m;
}

// One plug-in description, as the host lists it. Kestrune's machine_info derives from it and
// owns everything that the fields point to; the host only reads the fields.
//
// The three lists. The host declares global_params, track_params and attribute_list as its own
// std::vector of pointers and reads them in place, never changing them. MSVC's release builds
// lay such a vector out in one of three shapes: {first, last, end} (Visual Studio 2012 and
// later), {allocator, first, last, end} (2005 and 2008) and {first, last, end, allocator}
// (2010). So the twelve words after identity_uri are laid out to read right in all three: with
// P one array of 2n + 3m pointers (the n global parameters twice over, then the m track
// parameters three times over),
//
//   word   0    1      2       3       4           5            6 to 11
//   value  P    P+n    P+2n    P+2n    P+2n+m      P+2n+2m      P+2n+3m
//
//   12 bytes, {first,last,end}:       global 0-2, track 3-5,  attributes 6-8 (empty)
//   16 bytes, {alloc,first,last,end}: global 0-3, track 4-7,  attributes 8-11 (empty)
//   16 bytes, {first,last,end,alloc}: global 0-3, track 4-7,  attributes 8-11 (empty)
//
// Every reading finds the same parameters in the same order, and every end at or past its last.
// The allocator words are never read (MSVC's allocator is empty). A host built with the
// 12-byte shape sees an 84-byte record; the record itself is 96 bytes. MSVC's debug builds
// (checked iterators, a proxy pointer first) are not covered. Kestrune itself reads the lists
// only through global_params() and track_params().
class host_info {
public:
    // 0: called by the host, between setup and the collection's release, to create an
    // instance; the host owns the answer (null on failure) and ends it with release.
    virtual host_plugin* make_instance() = 0;
    // 1: called by the host to store a description in a song. Kestrune stores none: false.
    virtual bool store_description(host_archive* archive) = 0;
    // Called only by Kestrune's collection, never by the host.
    virtual ~host_info() = default;

    int kind = 0;               // 1 generator, 2 effect
    int interface_version = 15; // the host interface version these records follow
    int flags = 0;              // 1 for every Kestrune description
    int fewest_tracks = 0;      // track counts the host may choose from
    int most_tracks = 0;
    const char* full_name = "";   // e.g. "Kestrune Sine Pad"
    const char* short_label = ""; // e.g. "Sine"
    const char* author = "";
    const char* command_list = nullptr; // menu entries split by "\n"; entry i runs command i
    void* library_link = nullptr;       // always null: the host never sees the machine's DLL
    const char* identity_uri = nullptr; // how songs refer to this description
    // The three lists, as laid out above; all null when there are no parameters. Word 0: the
    // first global parameter; 1: the first copy's end; 2 and 3: the first track parameter;
    // 4: the first copy's end; 5: the second copy's end; 6 to 11: the end of P, the empty
    // attribute list's every pointer. Written only by lay_out_lists.
    host_parameter** list_words[12] = {};

    // One per machine parameter, in its order.
    param_list global_params() const noexcept { return {list_words[0], list_words[1]}; }
    // A generator's Note and Note Command; none for an effect.
    param_list track_params() const noexcept { return {list_words[3], list_words[4]}; }
    // Always 0: Kestrune announces no attributes.
    std::size_t attribute_count() const noexcept {
        return static_cast<std::size_t>(list_words[7] - list_words[6]);
    }

    // Lays the lists out for n global and m track parameters, all null, in storage: P above,
    // list_slots(n, m) pointers that the caller owns and keeps while the lists are read (null
    // when both are 0).
    void lay_out_lists(host_parameter** storage, std::size_t n, std::size_t m) noexcept {
        for (std::size_t i = 0; i < list_slots(n, m); ++i)
            storage[i] = nullptr;
        host_parameter** const tracks = storage + 2 * n;
        host_parameter** const words[12] = {storage,        storage + n,    tracks,
                                            tracks,         tracks + m,     tracks + 2 * m,
                                            tracks + 3 * m, tracks + 3 * m, tracks + 3 * m,
                                            tracks + 3 * m, tracks + 3 * m, tracks + 3 * m};
        for (std::size_t w = 0; w < 12; ++w)
            list_words[w] = words[w];
    }
    // Sets global parameter i (below n) in both its copies.
    void set_global_param(std::size_t i, host_parameter* p) noexcept {
        list_words[0][i] = p;
        list_words[1][i] = p;
    }
    // Sets track parameter i (below m) in its three copies.
    void set_track_param(std::size_t i, host_parameter* p) noexcept {
        list_words[3][i] = p;
        list_words[4][i] = p;
        list_words[5][i] = p;
    }
};

// One running plug-in instance. Kestrune's machine_plugin derives from it. The host calls the
// operations in this order of slots (numbered from 0, as everywhere in Kestrune); every one is
// called by the host on its own thread, never two at once on one instance. "Before start" means
// after make_instance and before the first start; an operation that needs no machine, or finds
// none, gives its fixed answer. Pointers the host hands in are lent for the length of the call.
class host_plugin {
public:
    // 0: the host's last call on the instance, at any state; destroys the machine and the
    // instance, whose value areas the host must no longer write.
    virtual void release() = 0;
    // 1: after make_instance, with master_info set; loads and starts the machine and restores
    // the state from archive (null for a new instance). May be called again to start afresh.
    virtual void start(host_archive* archive) = 0;
    // 2: after the host wrote both value areas; hands changed values and notes to the machine.
    virtual void take_events() = 0;
    // 3: renders count samples of stereo: inputs and outputs each point to a left and a right
    // array of the host's, count long. mode bit 2 asks for output. Answers whether the output
    // holds any sound. Allocates nothing and takes no lock (the host's audio thread).
    virtual bool render(float** inputs, float** outputs, int count, int mode) = 0;
    virtual void halt() = 0; // 4: stop all sound at once
    // 5: writes the state into a stream that archive hands out; archive is the host's.
    virtual void store_state(host_archive* archive) = 0;
    virtual void attributes_updated() = 0; // 6: Kestrune has no attributes: nothing
    // 7: entry index of command_list: 0 the machine's own command, any other the About box.
    virtual void run_command(int index) = 0;
    virtual void set_tracks(int count) = 0; // 8: tracks in use from the next take_events on
    virtual void mute(int track) = 0;       // 9: mutes one of the machine's tracks
    virtual bool is_muted(int track) = 0;   // 10: whether the machine has that track muted
    // 11: a MIDI note for the machine.
    virtual void midi_key(int channel, int value, int velocity) = 0;
    virtual void raw_event(unsigned data) = 0; // 12: nothing
    // 13: the text for a value of parameter index: global parameters first, then track
    // parameters. The instance owns the answer; it stays valid until the next value_text.
    virtual const char* value_text(int index, int value) = 0;
    virtual const void* envelope_list() = 0; // 14: no envelopes: null
    // 15: no wave playing: false.
    virtual bool start_wave(int wave, int note, float volume) = 0;
    virtual void end_wave() = 0;                          // 16: nothing
    virtual int envelope_position(int envelope) = 0;      // 17: no envelopes: -1
    virtual const char* param_text(int param) = 0;        // 18: no such texts: null
    virtual bool choose_instrument(const char* name) = 0; // 19: no instruments: false
    // 20: no sub-menus: writes nothing into the host's menu stream.
    virtual void sub_menu(int index, host_outstream* menu) = 0;
    virtual void input_added(const char* name) = 0;   // 21: inputs are not tracked: nothing
    virtual void input_removed(const char* name) = 0; // 22: nothing
    virtual void input_renamed(const char* old_name, const char* new_name) = 0; // 23: nothing
    // 24: mixing is the host's own work: nothing.
    virtual void mix_input(float** samples, int count, float amp) = 0;
    virtual void midi_controller(int controller, int channel, int value) = 0; // 25: nothing
    virtual bool input_level(int index, int amp, int pan) = 0; // 26: no levels: false
    // Called by release only; the host never destroys an instance itself.
    virtual ~host_plugin() = default;

    // The global value area: set by the instance, written by the host before take_events.
    unsigned char* global_values = nullptr;
    // The track value area: set by the instance (null for an effect), written by the host.
    unsigned char* track_values = nullptr;
    // Attribute values: Kestrune has none, so always null.
    int* attribute_values = nullptr;
    // Set by the host after make_instance and before start; read at every callback query.
    host_master_info* master_info = nullptr;
    // Set by the host after make_instance; Kestrune never uses it.
    host_services* host = nullptr;
};

// The object that zzub_get_plugincollection hands the host. The host owns it and ends it with
// release, after releasing every instance made from its descriptions.
class host_collection {
public:
    // 0: called by the host once, first; scans the machine folder and announces every machine
    // to factory, which the host owns and lends for the call.
    virtual void setup(host_factory* factory) = 0;
    // 1: looks a description up by URI for a song; Kestrune answers null: the host knows the
    // descriptions only through announce.
    virtual host_info* info_for_uri(const char* uri, host_archive* archive) = 0;
    virtual const char* collection_uri() = 0; // 2: Kestrune's collection has none: null
    virtual void set_option(const char* key, const char* value) = 0; // 3: no options: nothing
    // 4: the host's last call, after every instance is released; destroys every description,
    // then the collection.
    virtual void release() = 0;
    virtual ~host_collection() = default;
};

// The 32-bit layouts that MSVC-built hosts use. offsetof on a class with virtual functions is
// "conditionally supported"; g++ and clang give the plain layout offsets, which is what we pin.
#if defined(__i386__) || defined(_M_IX86)
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
static_assert(sizeof(host_parameter) == 32, "host_parameter is eight 32-bit fields");
static_assert(offsetof(host_parameter, title) == 4 && offsetof(host_parameter, caption) == 8);
static_assert(offsetof(host_parameter, lowest) == 12 && offsetof(host_parameter, highest) == 16);
static_assert(offsetof(host_parameter, empty_value) == 20 && offsetof(host_parameter, flags) == 24);
static_assert(offsetof(host_parameter, default_value) == 28);
static_assert(offsetof(host_master_info, ticks_per_beat) == 4);
static_assert(offsetof(host_master_info, samples_per_second) == 8);
static_assert(offsetof(host_master_info, samples_per_tick) == 12);
static_assert(offsetof(host_info, kind) == 4 && offsetof(host_info, interface_version) == 8);
static_assert(offsetof(host_info, flags) == 12 && offsetof(host_info, fewest_tracks) == 16);
static_assert(offsetof(host_info, most_tracks) == 20 && offsetof(host_info, full_name) == 24);
static_assert(offsetof(host_info, short_label) == 28 && offsetof(host_info, author) == 32);
static_assert(offsetof(host_info, command_list) == 36 && offsetof(host_info, library_link) == 40);
static_assert(offsetof(host_info, identity_uri) == 44 && offsetof(host_info, list_words) == 48);
static_assert(sizeof(host_info::list_words) == 48, "twelve 32-bit words after identity_uri");
static_assert(sizeof(host_info) == 96, "the 12-byte-list hosts read the first 84 bytes");
static_assert(offsetof(host_plugin, global_values) == 4 &&
              offsetof(host_plugin, track_values) == 8);
static_assert(offsetof(host_plugin, attribute_values) == 12);
static_assert(offsetof(host_plugin, master_info) == 16 && offsetof(host_plugin, host) == 20);
static_assert(sizeof(host_plugin) == 24);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
#endif

} // namespace kestrune
