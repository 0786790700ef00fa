#include "runtime/about.h"

#include <new>

#include "platform/platform.h"

namespace kestrune {

namespace {
const char* or_empty(const char* text) {
    return text != nullptr ? text : "";
}
} // namespace

std::string about_text(const machine_info& info) {
    std::string text;
    text += about_notice;
    text += "\n\n";
    text += "now wrapping...\n\n";
    text += "Name:\t\t";
    text += or_empty(info.full_name);
    text += "\nLabel:\t\t";
    text += or_empty(info.short_label);
    text += "\nAuthor:\t\t";
    text += or_empty(info.author);
    text += "\n\nPath:\t\t";
    text += info.library_path;
    text += "\n\nNumParams:\t";
    text += std::to_string(static_cast<int>(info.global_params.size()));
    return text;
}

void show_about_box(const machine_info& info) noexcept {
    try {
        std::string text = about_text(info);
        constexpr unsigned ok_button = 0; // MB_OK, no icon
        platform::message_box(text.c_str(), about_caption, ok_button);
    } catch (const std::bad_alloc&) {
        // Nothing is shown when the text can't be built.
    }
}

} // namespace kestrune
