#include "runtime/state.h"

#include <cstdlib>
#include <utility>

namespace kestrune {

byte_buffer::byte_buffer(std::int32_t wanted, bool zero_fill) noexcept {
    if (wanted <= 0) {
        return;
    }
    std::size_t bytes = static_cast<std::size_t>(wanted);
    void* block = zero_fill ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (block != nullptr) {
        data = static_cast<unsigned char*>(block);
        size = wanted;
    }
}

byte_buffer::byte_buffer(byte_buffer&& other) noexcept : data(other.data), size(other.size) {
    other.data = nullptr;
    other.size = 0;
}

byte_buffer& byte_buffer::operator=(byte_buffer&& other) noexcept {
    if (this != &other) {
        release();
        data = other.data;
        size = other.size;
        other.data = nullptr;
        other.size = 0;
    }
    return *this;
}

void byte_buffer::release() noexcept {
    std::free(data);
    data = nullptr;
    size = 0;
}

void encode_int32(std::int32_t value, unsigned char* bytes) {
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    }
}

std::int32_t decode_int32(const unsigned char* bytes) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        bits |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    }
    return static_cast<std::int32_t>(bits);
}

byte_buffer read_state_blob(host_instream& stream) noexcept {
    // What the stream doesn't deliver keeps these presets: version 0, size 0, zero data.
    unsigned char version_bytes[4] = {0, 0, 0, 0};
    stream.read_bytes(version_bytes, 4);
    if (decode_int32(version_bytes) != state_blob_version) {
        return byte_buffer();
    }
    unsigned char size_bytes[4] = {0, 0, 0, 0};
    stream.read_bytes(size_bytes, 4);
    byte_buffer data(decode_int32(size_bytes), true); // none for a size of 0 or less
    if (!data.empty()) {
        stream.read_bytes(data.data, data.size);
    }
    return data;
}

void write_state_blob(const byte_buffer& data, host_outstream& stream) noexcept {
    if (data.empty()) {
        return;
    }
    unsigned char version_bytes[4];
    unsigned char size_bytes[4];
    encode_int32(state_blob_version, version_bytes);
    encode_int32(data.size, size_bytes);
    stream.write_bytes(version_bytes, 4);
    stream.write_bytes(size_bytes, 4);
    stream.write_bytes(data.data, data.size);
}

dump_result dump_state(guarded_machine& source, byte_buffer& into) noexcept {
    std::int32_t size = 0;
    if (!source.data_size(size)) {
        return dump_result::failed;
    }
    if (size <= 0) {
        return dump_result::no_data;
    }
    byte_buffer taken(size, true);
    if (taken.empty() || !source.dump_data(taken.data, size)) {
        return dump_result::failed;
    }
    into = std::move(taken);
    return dump_result::taken;
}

void restore_state(host_archive* archive, guarded_machine& target, byte_buffer& kept,
                   bool after_fault) noexcept {
    host_instream* stream = archive != nullptr ? archive->input_stream("") : nullptr;
    byte_buffer given = stream != nullptr ? read_state_blob(*stream) : byte_buffer();
    if (!given.empty()) {
        kept = std::move(given);
    } else if (!after_fault) {
        kept.release(); // the last machine's state is not this one's
    }
    if (!kept.empty()) {
        target.load_data(kept.data, kept.size); // kept even when it faults here
    }
}

void save_state(host_archive& archive, guarded_machine& source, byte_buffer& kept) noexcept {
    if (!source.running() && (!source.faulted() || kept.empty())) {
        return;
    }
    host_outstream* stream = archive.output_stream("");
    if (stream == nullptr) {
        return;
    }
    if (source.running()) {
        switch (dump_state(source, kept)) {
        case dump_result::taken:
            break;
        case dump_result::no_data:
            kept.release(); // the machine's state is now no data at all
            return;
        case dump_result::failed:
            if (!source.faulted()) {
                return; // never a short blob, nor an older one for a machine that runs on
            }
            break;
        }
    }
    write_state_blob(kept, *stream);
}

} // namespace kestrune
