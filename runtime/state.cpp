#include "runtime/state.h"

#include <cstdlib>

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

void write_state_blob(guarded_machine& source, host_outstream& stream) {
    std::int32_t size = 0;
    if (!source.data_size(size) || size <= 0) {
        return;
    }
    byte_buffer buffer(size, true);
    if (buffer.data == nullptr) {
        return;
    }
    if (!source.dump_data(buffer.data, size)) {
        return;
    }
    unsigned char version_bytes[4];
    unsigned char size_bytes[4];
    encode_int32(state_blob_version, version_bytes);
    encode_int32(size, size_bytes);
    stream.write_bytes(version_bytes, 4);
    stream.write_bytes(size_bytes, 4);
    stream.write_bytes(buffer.data, size);
}

void read_state_blob(host_instream& stream, guarded_machine& target) {
    // What the stream doesn't deliver keeps these presets: version 0, size 0, zero data.
    unsigned char version_bytes[4] = {0, 0, 0, 0};
    stream.read_bytes(version_bytes, 4);
    if (decode_int32(version_bytes) != state_blob_version) {
        return;
    }
    unsigned char size_bytes[4] = {0, 0, 0, 0};
    stream.read_bytes(size_bytes, 4);
    std::int32_t size = decode_int32(size_bytes);
    if (size <= 0) {
        return;
    }
    byte_buffer buffer(size, true);
    if (buffer.data == nullptr) {
        return;
    }
    stream.read_bytes(buffer.data, size);
    target.load_data(buffer.data, size);
}

} // namespace kestrune
