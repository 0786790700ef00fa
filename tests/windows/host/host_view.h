// The zzub host's plug-in interface, as an MSVC-built host declares it. Written apart from the
// library's own host/host_interface.h on purpose: this is how a host built with MSVC 2010 or
// later (release) sees kestrune.dll's objects, so a test host built from it in MSVC mode checks
// the library's layout independently. Only clang's freestanding headers are available.
//
// ABI, as MSVC lays it out: thiscall members (callee pops), one slot for a virtual destructor,
// destructors last. Each growable list is MSVC's std::vector of a release build: in 2012 and
// later three pointers, first element, one past the last element, end of storage; in 2005 and
// 2008 the (empty) allocator's word first; in 2010 the allocator's word last. The description
// below declares the first shape; list_reading reads the same words as the other two.
#pragma once

#include <stddef.h>

namespace host_view {

class plugin;
class archive;

// std::vector<T*> of MSVC 2012 and later, release build.
template <class T>
struct msvc_vector {
    T** first; // first element, or null when nothing was ever stored
    T** last;  // one past the last element
    T** end;   // one past the storage
    int size() const { return static_cast<int>(last - first); }
};

// std::vector<T*> of MSVC 2005 and 2008, release build.
template <class T>
struct msvc_vector_2005 {
    void* allocator; // the allocator's word; never read
    T** first;
    T** last;
    T** end;
    int size() const { return static_cast<int>(last - first); }
};

// std::vector<T*> of MSVC 2010, release build.
template <class T>
struct msvc_vector_2010 {
    T** first;
    T** last;
    T** end;
    void* allocator; // the allocator's word; never read
    int size() const { return static_cast<int>(last - first); }
};

struct parameter {
    int kind; // 0 note, 1 switch, 2 byte, 3 word
    const char* title;
    const char* caption;
    int lowest;
    int highest;
    int empty_value;
    int flags;
    int default_value;
};

// The host's own record; the library reads the first four fields.
struct master_info {
    int beats_per_minute;
    int ticks_per_beat;
    int samples_per_second;
    int samples_per_tick;
};

class outstream {
public:
    virtual int write_bytes(const void* buffer, int size) = 0;
    virtual ~outstream() {}
};

class instream {
public:
    virtual int read_bytes(void* buffer, int size) = 0;
    virtual ~instream() {}
};

class archive {
public:
    virtual outstream* output_stream(const char* name) = 0;
    virtual instream* input_stream(const char* name) = 0;
    virtual ~archive() {}
};

class info;

class factory {
public:
    virtual void announce(info* description) = 0;
    virtual ~factory() {}
};

class info {
public:
    virtual plugin* make_instance() = 0;
    virtual bool store_description(archive* target) = 0;
    virtual ~info() {}

    int kind; // 1 generator, 2 effect
    int interface_version;
    int flags;
    int fewest_tracks;
    int most_tracks;
    const char* full_name;
    const char* short_label;
    const char* author;
    const char* command_list;
    void* library_link;
    const char* identity_uri;
    msvc_vector<parameter> global_params;
    msvc_vector<parameter> track_params;
    msvc_vector<void> attribute_list;
};

// A description's three lists as a host built with Vector reads them, from offset 48 on.
template <template <class> class Vector>
struct list_reading {
    Vector<parameter> global_params;
    Vector<parameter> track_params;
    Vector<void> attribute_list;
};

template <template <class> class Vector>
const list_reading<Vector>* read_lists(const info* description) {
    return reinterpret_cast<const list_reading<Vector>*>(
        reinterpret_cast<const char*>(description) + 48);
}

class plugin {
public:
    virtual void release() = 0;
    virtual void start(archive* source) = 0;
    virtual void take_events() = 0;
    virtual bool render(float** inputs, float** outputs, int count, int mode) = 0;
    virtual void halt() = 0;
    virtual void store_state(archive* target) = 0;
    virtual void attributes_updated() = 0;
    virtual void run_command(int index) = 0;
    virtual void set_tracks(int count) = 0;
    virtual void mute(int track) = 0;
    virtual bool is_muted(int track) = 0;
    virtual void midi_key(int channel, int value, int velocity) = 0;
    virtual void raw_event(unsigned data) = 0;
    virtual const char* value_text(int index, int value) = 0;
    virtual const void* envelope_list() = 0;
    virtual bool start_wave(int wave, int note, float volume) = 0;
    virtual void end_wave() = 0;
    virtual int envelope_position(int envelope) = 0;
    virtual const char* param_text(int param) = 0;
    virtual bool choose_instrument(const char* name) = 0;
    virtual void sub_menu(int index, outstream* menu) = 0;
    virtual void input_added(const char* name) = 0;
    virtual void input_removed(const char* name) = 0;
    virtual void input_renamed(const char* old_name, const char* new_name) = 0;
    virtual void mix_input(float** samples, int count, float amp) = 0;
    virtual void midi_controller(int controller, int channel, int value) = 0;
    virtual bool input_level(int index, int amp, int pan) = 0;
    virtual ~plugin() {}

    unsigned char* global_values;
    unsigned char* track_values;
    int* attribute_values;
    master_info* master;
    void* host;
};

class collection {
public:
    virtual void setup(factory* receiver) = 0;
    virtual info* info_for_uri(const char* uri, archive* source) = 0;
    virtual const char* collection_uri() = 0;
    virtual void set_option(const char* key, const char* value) = 0;
    virtual void release() = 0;
    virtual ~collection() {}
};

// The library's exports, cdecl and undecorated.
typedef const char*(__cdecl* get_signature_function)();
typedef collection*(__cdecl* get_collection_function)();

static_assert(sizeof(void*) == 4, "a 32-bit host");
static_assert(sizeof(msvc_vector<parameter>) == 12, "three pointers");
static_assert(sizeof(parameter) == 32);
static_assert(offsetof(info, kind) == 4 && offsetof(info, identity_uri) == 44);
static_assert(offsetof(info, global_params) == 48 && offsetof(info, track_params) == 60);
static_assert(offsetof(info, attribute_list) == 72 && sizeof(info) == 84);
static_assert(sizeof(list_reading<msvc_vector>) == 36 &&
              sizeof(list_reading<msvc_vector_2005>) == 48);
static_assert(sizeof(list_reading<msvc_vector_2010>) == 48);
static_assert(offsetof(plugin, global_values) == 4 && offsetof(plugin, host) == 20);
static_assert(sizeof(plugin) == 24);

} // namespace host_view
