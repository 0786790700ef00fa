// A machine's description turned into the host's: names, command list, identity URI, tracks,
// and one host parameter per machine parameter with a range that fits a byte or a word.
#include "machine/machine_info.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "machine/value_range.h"

namespace kestrune {

// Stored songs name machines by this prefix and the machine's full name: never change it.
extern const char identity_uri_prefix[] = "@kestrune.org/quillon/";

namespace {

const char empty_text[] = "";
const char word_text[] = "Word";
const char note_text[] = "Note";
const char note_command_text[] = "Note Command";

// The widest host parameter value: 0xffff is the word's empty value, so it is never valid.
constexpr int widest_value = 65534;

// One block of name records may take at most this many bytes. A 32-bit process can't hold a
// larger one anyway, and the same limit on every build keeps an absurd param_count (e.g.
// 0x7fffffff) an out-of-memory answer rather than a giant reservation on a 64-bit build.
constexpr std::uint64_t largest_name_table = 0x7fffffffu;
static_assert(largest_name_table <= SIZE_MAX, "the limit is a valid allocation size");

const char* text_or_empty(const char* text) {
    return text ? text : empty_text;
}

// The two shapes every host parameter starts from; flags start at 0.
// kind, title, caption, lowest, highest, empty_value, flags, default_value
constexpr host_parameter word_template{3, word_text, word_text, 0, 0x8000, 0xffff, 0, 0xffff};
constexpr host_parameter note_template{0, note_text, note_text, 1, 156, 0, 0, 0};

// A new record shaped like a template; null when memory is short.
host_parameter* new_parameter(const host_parameter& shape) {
    return new (std::nothrow) host_parameter(shape);
}

// Copies at most 31 characters of text into a 32-character field, NUL-padded.
void copy_name(char (&field)[32], const char* text) {
    std::strncpy(field, text_or_empty(text), sizeof field);
    field[sizeof field - 1] = '\0';
}

// Copies a machine's text (null: empty) into one of ours. Its length is read first, so that the
// copy reads only bytes already read once: a text that can't be read faults before the string
// changes, never in the middle of its growth.
void copy_text(std::string& field, const char* text) {
    const char* source = text_or_empty(text);
    const std::size_t length = std::strlen(source);
    field.assign(source, length);
}

// a - b as the machine's own 32-bit int arithmetic would give it, wrapping, without overflow.
int wrapping_difference(int a, int b) {
    const std::uint32_t r = static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b);
    return r <= 0x7fffffffu ? static_cast<int>(r)
                            : static_cast<int>(r - 0x80000000u) - 0x7fffffff - 1;
}

// Range, default and kind of the host parameter for one machine parameter.
void convert_range(const machine_parameter& mp, host_parameter& p) {
    const int lo = mp.lowest;
    const int hi = mp.highest;
    const int def = mp.default_value;
    if (lo >= 0 && hi <= widest_value) {
        p.lowest = lo;
        p.highest = hi;
        p.default_value = def;
    } else {
        p.lowest = 0;
        // Formed in 64 bits: a span beyond 32 bits (up to INT_MIN..INT_MAX) is simply wide.
        // Here lo < 0 or hi > 65534, so the span is above INT_MIN and a narrow one fits an int.
        const std::int64_t span = static_cast<std::int64_t>(hi) - lo;
        if (span <= widest_value) {
            p.highest = static_cast<int>(span);
            p.default_value = wrapping_difference(def, lo);
        } else {
            p.highest = widest_value;
            p.default_value = rescale_value(def, lo, hi, 0, widest_value);
        }
    }
    if (p.highest <= 254) {
        p.kind = p.highest <= 1 ? 1 : 2; // switch or byte
        p.empty_value = 255;
    }
    // Otherwise the word template's kind 3 and empty value 65535 stand.
}

// Converts every machine parameter into a global parameter, in the machine's order. A null
// entry still gets its parameter (a switch 0..0 without names), so that global parameter i
// always stands for machine parameter i. Answers false when memory runs out.
bool add_global_parameters(machine_info& info, const machine_description& description) {
    const int count = description.param_count;
    if (count <= 0 || description.params == nullptr)
        return true;
    const std::uint64_t bytes =
        static_cast<std::uint64_t>(count) * sizeof(param_name_record); // at most 2^37
    if (bytes > largest_name_table)
        return false;
    info.name_records.reset(new (std::nothrow) param_name_record[static_cast<std::size_t>(count)]);
    if (!info.name_records)
        return false;
    info.name_record_count = count;

    const machine_parameter* const* params = description.params;
    const machine_parameter none{nullptr, nullptr, 0, 0, 0, 0};
    for (int i = 0; i < count; ++i) {
        // The machine's entry and its names first, into locals; then our own records.
        const machine_parameter* entry = params[i];
        const machine_parameter mp = entry ? *entry : none;
        param_name_record names;
        copy_name(names.title, mp.title);
        copy_name(names.caption, mp.caption);

        host_parameter* p = new_parameter(word_template);
        if (!p)
            return false;
        info.set_global_param(static_cast<std::size_t>(i), p);
        if (mp.flags == 2)
            p->flags = 2;
        convert_range(mp, *p);
        param_name_record& kept = info.name_records[static_cast<std::size_t>(i)];
        kept = names;
        p->title = kept.title;
        p->caption = kept.caption;
    }
    return true;
}

// A generator's two track parameters: the note, then the note command.
bool add_track_parameters(machine_info& info) {
    host_parameter* note = new_parameter(note_template);
    if (!note)
        return false;
    info.set_track_param(0, note);
    note->flags = 4;

    host_parameter* command = new_parameter(word_template);
    if (!command)
        return false;
    info.set_track_param(1, command);
    command->lowest = 1;
    command->highest = 0xffff;
    command->empty_value = 0;
    command->title = note_command_text;
    command->caption = note_command_text;
    return true;
}

// Fills a machine_info in its construction state from a copy of the machine's description;
// false when memory runs out (it may then be partly filled, and the caller destroys it).
bool fill_fields(machine_info& info, const machine_description& description, const char* path) {
    const bool generator = description.kind_flags == 3;
    info.kind = generator ? 1 : 2;
    info.interface_version = 15;
    info.flags = 1;

    copy_text(info.full_name_text, description.full_name);
    info.full_name = info.full_name_text.c_str();
    copy_text(info.short_label_text, description.short_label);
    info.short_label = info.short_label_text.c_str();
    copy_text(info.author_text, description.author);
    info.author = info.author_text.c_str();

    // The machine's own command is always entry 0, the About box entry 1.
    copy_text(info.command_list_text, description.command_text);
    info.command_list_text += "\nAbout ";
    info.command_list_text += info.full_name_text;
    info.command_list_text += "...";
    info.command_list = info.command_list_text.c_str();

    info.identity_uri_text = identity_uri_prefix;
    info.identity_uri_text += info.full_name_text;
    char* uri = info.identity_uri_text.data();
    replace_char(uri, ' ', '+');
    replace_char(uri, '\t', '+');
    replace_char(uri, '\n', '+');
    replace_char(uri, '\r', '+');
    info.identity_uri = info.identity_uri_text.c_str();

    info.library_path = text_or_empty(path);
    info.library_link = nullptr;

    // Room for every parameter first, so that each one belongs to the description the moment
    // it exists, and a failure halfway frees what was made.
    const bool has_globals = description.param_count > 0 && description.params != nullptr;
    const std::size_t globals = has_globals ? static_cast<std::size_t>(description.param_count) : 0;
    if (!info.make_lists(globals, generator ? 2 : 0))
        return false;
    if (!add_global_parameters(info, description))
        return false;

    if (generator) {
        info.fewest_tracks = 8;
        info.most_tracks = 32;
        return add_track_parameters(info);
    }
    info.fewest_tracks = 0;
    info.most_tracks = 0;
    return true;
}

} // namespace

machine_info::machine_info() {
    // One shared constant empty text until the names are filled in.
    full_name = empty_text;
    short_label = empty_text;
    author = empty_text;
}

bool machine_info::store_description(host_archive* archive) noexcept {
    (void)archive;
    return false;
}

host_plugin* machine_info::make_instance() noexcept {
    return make_plugin != nullptr ? make_plugin(*this) : nullptr;
}

machine_info::~machine_info() {
    // The texts, the name records and the lists' storage go with the members.
    free_lists();
}

void machine_info::free_lists() noexcept {
    for (host_parameter* p : global_params())
        delete p;
    for (host_parameter* p : track_params())
        delete p;
    lay_out_lists(nullptr, 0, 0);
    list_storage.reset();
}

bool machine_info::make_lists(std::size_t n, std::size_t m) noexcept {
    free_lists();
    // Limited like the name records, so that an absurd count is an out-of-memory answer on
    // every build; the sum can't overflow, as each count is checked first.
    constexpr std::size_t slot_bytes = sizeof(void*); // each slot is one pointer
    constexpr auto most = static_cast<std::size_t>(largest_name_table / (5 * slot_bytes));
    if (n > most || m > most)
        return false;
    const std::size_t slots = list_slots(n, m);
    if (slots == 0)
        return true;
    list_storage.reset(new (std::nothrow) host_parameter*[slots]);
    if (!list_storage)
        return false;
    lay_out_lists(list_storage.get(), n, m);
    return true;
}

bool fill_machine_info(machine_info& info, const machine_description& description, const char* path,
                       instance_maker make_plugin) noexcept {
    info.make_plugin = make_plugin;
    // The texts and lists grow through std::string and std::vector, which report a lack of
    // memory only by throwing; it is caught here and turned into a false answer, so nothing
    // reaches the host. This is the one way out of memory, never a normal path.
    try {
        const machine_description copy = description; // the machine's fields, read once
        return fill_fields(info, copy, path);
    } catch (...) {
        return false;
    }
}

machine_info* build_machine_info(const machine_description& description, const char* path,
                                 instance_maker make_plugin) noexcept {
    machine_info* info = new (std::nothrow) machine_info();
    if (!info)
        return nullptr;
    if (!fill_machine_info(*info, description, path, make_plugin)) {
        delete info;
        return nullptr;
    }
    return info;
}

void replace_char(char* text, char from, char to) {
    if (!text || from == to)
        return;
    for (; *text != '\0'; ++text) {
        if (*text == from)
            *text = to;
    }
}

} // namespace kestrune
