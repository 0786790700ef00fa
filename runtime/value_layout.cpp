#include "runtime/value_layout.h"

#include <new>

namespace kestrune {

value_layout::value_layout(param_list params) noexcept {
    if (params.empty() || params.size() > 0x7fffffffu / 2) {
        return;
    }
    std::size_t n = params.size();
    offsets.reset(new (std::nothrow) std::int32_t[n]);
    is_word.reset(new (std::nothrow) unsigned char[n]);
    if (!offsets || !is_word) {
        clear();
        return;
    }
    std::int32_t total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        int kind = params[i] != nullptr ? params[i]->kind : -1;
        if (kind < 0 || kind > 3) {
            clear();
            return;
        }
        offsets[i] = total;
        is_word[i] = kind == 3 ? 1 : 0;
        total += kind == 3 ? 2 : 1;
    }
    if (total > 0) {
        values.reset(new (std::nothrow) unsigned char[static_cast<std::size_t>(total)]);
        if (!values) {
            clear();
            return;
        }
    }
    count = static_cast<int>(n);
    size = total;
}

void value_layout::clear() noexcept {
    values.reset();
    offsets.reset();
    is_word.reset();
    count = 0;
    size = 0;
}

} // namespace kestrune
