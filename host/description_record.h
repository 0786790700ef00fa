// A machine's description as data: what "GetInfo" answered, read once and kept in records of
// our own, so that a machine_info can be built from it later, without the DLL: from the scan's
// memory, or from what a scanner process sent back. Built through the same conversion as from
// the live description, it gives the same machine_info, field by field.
//
// The byte form (little-endian) is the one both the cache file and the scanner use. Its reader
// takes untrusted bytes: every size, count and text is bounded and checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "machine/machine_info.h"
#include "machine/machine_interface.h"

namespace kestrune {

// One machine parameter as the conversion reads it: its names as far as a host keeps them (31
// characters), and its four numbers. A null entry is all zeros.
struct parameter_record {
    char title[32];
    char caption[32];
    std::int32_t lowest;
    std::int32_t highest;
    std::int32_t flags;
    std::int32_t default_value;
};

struct description_record {
    std::int32_t kind_flags = 0;
    std::string full_name; // each text without its terminator; null was ""
    std::string short_label;
    std::string author;
    std::string command_text;
    std::vector<parameter_record> params; // empty for a param_count of 0 or less, or no table
};

// The bounds of what a record holds: a description beyond them is no machine to us.
constexpr std::size_t record_text_limit = 65536;      // bytes of each text
constexpr std::size_t record_parameter_limit = 16384; // parameters

// Reads a live description into record (any content before is replaced). Reads the machine's
// memory, so call it inside the guard of the probe; the caller owns record, so that a fault,
// which leaves without unwinding, loses nothing. False when the description is beyond the bounds
// or memory runs out.
bool capture_description(const machine_description& description,
                         description_record& record) noexcept;

// Fills info, fresh from its constructor, as fill_machine_info does from the live description.
// False when memory runs out.
bool fill_from_record(machine_info& info, const description_record& record, const char* path,
                      instance_maker make_plugin) noexcept;

// Bytes in, bytes out. byte_writer appends; byte_reader reads within its bounds, and once a read
// fails it stays failed and every later read gives zeros.
class byte_writer {
public:
    void u8(std::uint8_t value) { bytes.push_back(static_cast<char>(value)); }
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    void u64(std::uint64_t value);
    void text(const std::string& value); // u32 length, then the bytes
    std::string bytes;                   // may throw std::bad_alloc: callers catch it
};

class byte_reader {
public:
    byte_reader(const unsigned char* data, std::size_t size) : data_(data), left_(size) {}
    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::uint64_t u64();
    // A text of at most limit bytes, none of them NUL; false (and failed) otherwise.
    bool text(std::string& value, std::size_t limit);
    // The next count bytes, in place; null (and failed) when fewer are left.
    const unsigned char* bytes(std::size_t count) { return take(count); }
    bool failed() const { return failed_; }
    std::size_t left() const { return left_; }

private:
    const unsigned char* take(std::size_t count);
    const unsigned char* data_;
    std::size_t left_;
    bool failed_ = false;
};

// Appends record; reads one back (false when the bytes aren't a record within the bounds).
void write_record(byte_writer& out, const description_record& record);
bool read_record(byte_reader& in, description_record& record);

} // namespace kestrune
