#include "machine/isolation.h"

#include <cstring>

namespace kestrune {

bool parse_isolation_option(const char* key, const char* value, isolation_mode& mode) noexcept {
    if (key == nullptr || value == nullptr || std::strcmp(key, isolation_option) != 0) {
        return false;
    }
    if (std::strcmp(value, "always") == 0) {
        mode = isolation_mode::always;
    } else if (std::strcmp(value, "after-fault") == 0) {
        mode = isolation_mode::after_fault;
    } else if (std::strcmp(value, "never") == 0) {
        mode = isolation_mode::never;
    } else {
        return false;
    }
    return true;
}

} // namespace kestrune
