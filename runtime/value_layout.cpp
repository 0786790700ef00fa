#include "runtime/value_layout.h"

#include <cstdlib>

namespace kestrune {

value_layout::value_layout(const std::vector<host_parameter*>& params) noexcept {
    if (params.empty() || params.size() > 0x7fffffffu / 2) {
        return;
    }
    std::size_t n = params.size();
    offsets = static_cast<std::int32_t*>(std::malloc(n * sizeof(std::int32_t)));
    is_word = static_cast<unsigned char*>(std::malloc(n));
    if (offsets == nullptr || is_word == nullptr) {
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
        values = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(total)));
        if (values == nullptr) {
            clear();
            return;
        }
    }
    count = static_cast<int>(n);
    size = total;
}

value_layout::~value_layout() {
    clear();
}

void value_layout::clear() noexcept {
    std::free(values);
    std::free(offsets);
    std::free(is_word);
    values = nullptr;
    offsets = nullptr;
    is_word = nullptr;
    count = 0;
    size = 0;
}

} // namespace kestrune
