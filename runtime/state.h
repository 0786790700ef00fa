// A machine's state in the host's archive. The stored form, the state blob, is
//   version  4 bytes  little-endian 1
//   size     4 bytes  little-endian N > 0
//   data     N bytes  exactly as the machine's dump_data wrote them
// and nothing at all when the machine has no data. The size comes back from song files, so it
// is never trusted: a block that can't be had restores nothing.
//
// An instance keeps the data of the last blob that it handed to its machine's load_data or
// took from its dump_data, in the very buffer that the call used. Once its machine has faulted,
// a store writes that kept blob, and the next start hands it to the fresh machine, so that a
// fault never costs the song the machine's settings as they last were.
#pragma once

#include <cstdint>

#include "calls/guarded_machine.h"
#include "host/host_interface.h"

namespace kestrune {

constexpr std::int32_t state_blob_version = 1;

// Owns one heap block, on every way out; it can be handed on, never copied. A size of 0 or
// less, or a block that can't be had, leaves data null; nothing is thrown.
class byte_buffer {
public:
    byte_buffer() noexcept = default;
    byte_buffer(std::int32_t size, bool zero_fill) noexcept;
    ~byte_buffer() { release(); }
    byte_buffer(const byte_buffer&) = delete;
    byte_buffer& operator=(const byte_buffer&) = delete;
    byte_buffer(byte_buffer&& other) noexcept;
    byte_buffer& operator=(byte_buffer&& other) noexcept;

    void release() noexcept;
    bool empty() const { return data == nullptr; }

    unsigned char* data = nullptr;
    std::int32_t size = 0; // the bytes of data; 0 when there is no block
};

// Four bytes of value, little-endian, and back.
void encode_int32(std::int32_t value, unsigned char* bytes);
std::int32_t decode_int32(const unsigned char* bytes);

// The data of the state blob that a stream holds: a buffer of the stored size with what the
// stream delivered and zeros after it. Empty when the stream holds no blob (a version other
// than 1, a size of 0 or less, a stream that ends before the size) or its block can't be had.
byte_buffer read_state_blob(host_instream& stream) noexcept;

// Writes data as a state blob: version, size and data, in three writes; nothing when empty.
void write_state_blob(const byte_buffer& data, host_outstream& stream) noexcept;

enum class dump_result {
    taken,   // into holds the machine's data
    no_data, // its data_size answered 0 or less
    failed,  // it faulted, or its block can't be had; into is untouched
};

// Takes a machine's data into a buffer of the size that its data_size answers.
dump_result dump_state(guarded_machine& source, byte_buffer& into) noexcept;

// start's restore, once its machine runs: the archive's own blob when it holds one (which is
// then kept), else, after the last machine faulted, the kept one; otherwise nothing is restored
// and nothing kept.
void restore_state(host_archive* archive, guarded_machine& target, byte_buffer& kept,
                   bool after_fault) noexcept;

// store_state's work: a running machine's data is taken, kept and written. Once the machine has
// faulted (now, in data_size or dump_data, or before) the kept blob is written instead. Nothing
// is written without a kept blob, for a machine that has no data, or when its data can't be had
// without a fault; without a machine and nothing kept, not even the stream is asked for.
void save_state(host_archive& archive, guarded_machine& source, byte_buffer& kept) noexcept;

} // namespace kestrune
