// Little-endian integers in byte buffers, as state blocks, state files and WAV headers hold
// them. Header-only and includes nothing, so that the machines we build can use it as well as
// the host side.
#pragma once

namespace hostkit {

// The count (1 to 4) bytes at at, least significant first.
inline unsigned read_le(const unsigned char* at, int count = 4) {
    unsigned value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | at[i];
    }
    return value;
}

// The low count (1 to 4) bytes of value into at, least significant first.
inline void write_le(unsigned char* at, unsigned value, int count = 4) {
    for (int i = 0; i < count; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

} // namespace hostkit
