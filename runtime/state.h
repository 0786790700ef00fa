// A machine's state in the host's archive. The stored form, the state blob, is
//   version  4 bytes  little-endian 1
//   size     4 bytes  little-endian N > 0
//   data     N bytes  exactly as the machine's dump_data wrote them
// and nothing at all when the machine has no data. The size comes back from song files, so it
// is never trusted: a block that can't be had restores nothing.
#pragma once

#include <cstdint>

#include "host/host_interface.h"
#include "runtime/guarded_machine.h"

namespace kestrune {

constexpr std::int32_t state_blob_version = 1;

// Owns one heap block for the length of a scope, on every way out. A size of 0 or less, or a
// block that can't be had, leaves data null; nothing is thrown.
class byte_buffer {
public:
    byte_buffer(std::int32_t size, bool zero_fill) noexcept;
    ~byte_buffer() { release(); }
    byte_buffer(const byte_buffer&) = delete;
    byte_buffer& operator=(const byte_buffer&) = delete;

    void release() noexcept;

    unsigned char* data = nullptr;
    std::int32_t size = 0; // the bytes of data; 0 when there is no block
};

// Four bytes of value, little-endian, and back.
void encode_int32(std::int32_t value, unsigned char* bytes);
std::int32_t decode_int32(const unsigned char* bytes);

// Writes the state blob of a machine into a stream: nothing when its data_size is 0 or less,
// a block of that size can't be had, or the machine faults in data_size or dump_data.
void write_state_blob(guarded_machine& source, host_outstream& stream);

// Reads a state blob from a stream and hands its data to the machine. A version other than 1,
// a size of 0 or less, a stream that ends before the size, or a block that can't be had
// restore nothing; a short data part leaves the buffer's tail zero.
void read_state_blob(host_instream& stream, guarded_machine& target);

} // namespace kestrune
