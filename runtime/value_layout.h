// How the host packs the global parameter values into an instance's global value area: one
// byte for a note, switch or byte parameter, two bytes (little-endian) for a word, one after
// the other in parameter order, with no padding.
#pragma once

#include <cstdint>
#include <memory>

#include "host/host_interface.h"

namespace kestrune {

class value_layout {
public:
    value_layout() = default;
    // Lays out the values of params. Never throws: when memory is short, or a parameter has a
    // kind other than 0 to 3, the layout is abandoned and has no offsets and no value area.
    explicit value_layout(param_list params) noexcept;
    value_layout(const value_layout&) = delete;
    value_layout& operator=(const value_layout&) = delete;

    // The global value area the host writes into; null when it has no bytes or was abandoned.
    std::unique_ptr<unsigned char[]> values;
    // Byte offset of each parameter's value in values; null when abandoned or there are none.
    std::unique_ptr<std::int32_t[]> offsets;
    // 1 for a two-byte value, 0 for a one-byte value, per parameter; null with offsets.
    std::unique_ptr<unsigned char[]> is_word;
    // Parameters laid out: the number of entries of offsets and is_word (0 when abandoned).
    int count = 0;
    // Bytes of values.
    int size = 0;

    // The value of parameter index as the host wrote it, widened with zeros. The caller checks
    // that index is below count.
    unsigned read(int index) const {
        const unsigned char* at = values.get() + offsets[index];
        return is_word[index] ? static_cast<unsigned>(at[0] | (at[1] << 8)) : at[0];
    }

private:
    void clear() noexcept;
};

} // namespace kestrune
