#include "host/description_record.h"

#include <cstring>
#include <new>

namespace kestrune {

namespace {

// A machine's text (null: empty) into one of ours; false when it is beyond the bound. Its length
// is read before anything of ours changes.
bool capture_text(std::string& field, const char* text) {
    const char* source = text != nullptr ? text : "";
    std::size_t length = std::strlen(source);
    if (length > record_text_limit) {
        return false;
    }
    field.assign(source, length);
    return true;
}

// At most 31 characters of a name, NUL-padded, as the conversion keeps it.
void capture_name(char (&field)[32], const char* text) {
    std::memset(field, 0, sizeof field);
    if (text != nullptr) {
        std::strncpy(field, text, sizeof field - 1);
    }
}

void write_name(byte_writer& out, const char (&name)[32]) {
    std::size_t length = strnlen(name, sizeof name - 1);
    out.u8(static_cast<std::uint8_t>(length));
    out.bytes.append(name, length);
}

bool read_name(byte_reader& in, char (&name)[32]) {
    std::size_t length = in.u8();
    const unsigned char* at = length < sizeof name ? in.bytes(length) : nullptr;
    if (at == nullptr || std::memchr(at, 0, length) != nullptr) {
        return false;
    }
    std::memset(name, 0, sizeof name);
    std::memcpy(name, at, length);
    return true;
}

} // namespace

bool capture_description(const machine_description& description,
                         description_record& record) noexcept {
    try {
        const machine_description copy = description; // the machine's fields, read once
        record.kind_flags = copy.kind_flags;
        record.params.clear();
        if (!capture_text(record.full_name, copy.full_name) ||
            !capture_text(record.short_label, copy.short_label) ||
            !capture_text(record.author, copy.author) ||
            !capture_text(record.command_text, copy.command_text)) {
            return false;
        }
        if (copy.param_count <= 0 || copy.params == nullptr) {
            return true;
        }
        if (static_cast<std::size_t>(copy.param_count) > record_parameter_limit) {
            return false;
        }
        record.params.resize(static_cast<std::size_t>(copy.param_count));
        for (std::size_t i = 0; i < record.params.size(); ++i) {
            const machine_parameter* entry = copy.params[i];
            const machine_parameter mp =
                entry != nullptr ? *entry : machine_parameter{nullptr, nullptr, 0, 0, 0, 0};
            parameter_record& kept = record.params[i];
            capture_name(kept.title, mp.title);
            capture_name(kept.caption, mp.caption);
            kept.lowest = mp.lowest;
            kept.highest = mp.highest;
            kept.flags = mp.flags;
            kept.default_value = mp.default_value;
        }
        return true;
    } catch (...) {
        return false; // out of memory
    }
}

bool fill_from_record(machine_info& info, const description_record& record, const char* path,
                      instance_maker make_plugin) noexcept {
    try {
        std::vector<machine_parameter> params(record.params.size());
        std::vector<const machine_parameter*> table(record.params.size());
        for (std::size_t i = 0; i < params.size(); ++i) {
            const parameter_record& r = record.params[i];
            params[i] = machine_parameter{r.title,   r.caption, r.lowest,
                                          r.highest, r.flags,   r.default_value};
            table[i] = &params[i];
        }
        const machine_description description{0,
                                              record.kind_flags,
                                              static_cast<int>(params.size()),
                                              table.empty() ? nullptr : table.data(),
                                              record.full_name.c_str(),
                                              record.short_label.c_str(),
                                              record.author.c_str(),
                                              record.command_text.c_str(),
                                              0};
        return fill_machine_info(info, description, path, make_plugin);
    } catch (...) {
        return false;
    }
}

// --- Bytes ----------------------------------------------------------------------------------

void byte_writer::u16(std::uint16_t value) {
    u8(static_cast<std::uint8_t>(value));
    u8(static_cast<std::uint8_t>(value >> 8));
}

void byte_writer::u32(std::uint32_t value) {
    u16(static_cast<std::uint16_t>(value));
    u16(static_cast<std::uint16_t>(value >> 16));
}

void byte_writer::u64(std::uint64_t value) {
    u32(static_cast<std::uint32_t>(value));
    u32(static_cast<std::uint32_t>(value >> 32));
}

void byte_writer::text(const std::string& value) {
    u32(static_cast<std::uint32_t>(value.size()));
    bytes += value;
}

const unsigned char* byte_reader::take(std::size_t count) {
    if (failed_ || count > left_) {
        failed_ = true;
        return nullptr;
    }
    const unsigned char* at = data_;
    data_ += count;
    left_ -= count;
    return at;
}

std::uint8_t byte_reader::u8() {
    const unsigned char* at = take(1);
    return at != nullptr ? at[0] : 0;
}

std::uint16_t byte_reader::u16() {
    const unsigned char* at = take(2);
    return at != nullptr ? static_cast<std::uint16_t>(at[0] | at[1] << 8) : 0;
}

std::uint32_t byte_reader::u32() {
    std::uint32_t low = u16();
    return low | static_cast<std::uint32_t>(u16()) << 16;
}

std::uint64_t byte_reader::u64() {
    std::uint64_t low = u32();
    return low | static_cast<std::uint64_t>(u32()) << 32;
}

bool byte_reader::text(std::string& value, std::size_t limit) {
    std::size_t length = limit < 256 ? u8() : u32();
    const unsigned char* at = length <= limit ? take(length) : nullptr;
    if (at == nullptr || std::memchr(at, 0, length) != nullptr) {
        failed_ = true;
        return false;
    }
    value.assign(reinterpret_cast<const char*>(at), length);
    return true;
}

// --- Records --------------------------------------------------------------------------------

void write_record(byte_writer& out, const description_record& record) {
    out.u32(static_cast<std::uint32_t>(record.kind_flags));
    out.text(record.full_name);
    out.text(record.short_label);
    out.text(record.author);
    out.text(record.command_text);
    out.u32(static_cast<std::uint32_t>(record.params.size()));
    for (const parameter_record& p : record.params) {
        write_name(out, p.title);
        write_name(out, p.caption);
        out.u32(static_cast<std::uint32_t>(p.lowest));
        out.u32(static_cast<std::uint32_t>(p.highest));
        out.u32(static_cast<std::uint32_t>(p.flags));
        out.u32(static_cast<std::uint32_t>(p.default_value));
    }
}

bool read_record(byte_reader& in, description_record& record) {
    record.kind_flags = static_cast<std::int32_t>(in.u32());
    if (!in.text(record.full_name, record_text_limit) ||
        !in.text(record.short_label, record_text_limit) ||
        !in.text(record.author, record_text_limit) ||
        !in.text(record.command_text, record_text_limit)) {
        return false;
    }
    std::uint32_t count = in.u32();
    // Each parameter takes at least 18 bytes: a count beyond what is left is damage, found
    // before anything is allocated for it.
    if (in.failed() || count > record_parameter_limit || count > in.left() / 18) {
        return false;
    }
    record.params.resize(count);
    for (parameter_record& p : record.params) {
        if (!read_name(in, p.title) || !read_name(in, p.caption)) {
            return false;
        }
        p.lowest = static_cast<std::int32_t>(in.u32());
        p.highest = static_cast<std::int32_t>(in.u32());
        p.flags = static_cast<std::int32_t>(in.u32());
        p.default_value = static_cast<std::int32_t>(in.u32());
    }
    return !in.failed();
}

} // namespace kestrune
