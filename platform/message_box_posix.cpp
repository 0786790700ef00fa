#include "platform/message_box.h"

#include <cstdio>

namespace kestrune::platform {

int message_box(const char* text, const char* caption, unsigned type) {
    (void)type;
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "",
                 text != nullptr ? text : "");
    return 1;
}

} // namespace kestrune::platform
