#include "platform/message_box.h"

#include <windows.h>

namespace kestrune::platform {

int message_box(const char* text, const char* caption, unsigned type) {
    return MessageBoxA(GetForegroundWindow(), text, caption, type);
}

} // namespace kestrune::platform
