#include <cstdio>

#include "commands.h"

namespace kestrune_host {

int report(int code, const std::string& message) {
    std::fprintf(stderr, "kestrune-host: error: %s\n", message.c_str());
    return code;
}

void warn(const std::string& message) {
    std::fprintf(stderr, "kestrune-host: warning: %s\n", message.c_str());
}

} // namespace kestrune_host
