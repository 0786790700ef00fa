#include "runtime/about.h"

#include <cstdio>
#include <new>

#include "platform/guard.h"
#include "platform/message_box.h"

namespace kestrune {

namespace {
const char* or_empty(const char* text) {
    return text != nullptr ? text : "";
}
} // namespace

std::string fault_cause(unsigned code) {
    switch (code) {
    case platform::access_violation_code:
        return "access violation";
    case platform::cxx_exception_code:
        return "C++ exception";
    case platform::stack_overflow_code:
        return "stack overflow";
    default:
        char text[24];
        std::snprintf(text, sizeof text, "exception 0x%08X", code);
        return text;
    }
}

std::string fault_cause(const machine_fault& fault) {
    if (fault.deadline_seconds > 0) {
        return "no answer in " + std::to_string(fault.deadline_seconds) + " s";
    }
    if (fault.bad_answer) {
        return "bad answer";
    }
    if (fault.process_ended) {
        // Windows ends a process that faulted, or failed a security check, with the exception's
        // code: those read as codes are written, in hexadecimal.
        auto code = static_cast<unsigned>(fault.exit_code);
        char text[16];
        if (code >= 0xC0000000u && code != 0xFFFFFFFFu) {
            std::snprintf(text, sizeof text, "0x%08X", code);
        } else {
            std::snprintf(text, sizeof text, "%d", fault.exit_code);
        }
        return std::string("process ended (exit code ") + text + ")";
    }
    return fault_cause(fault.code);
}

std::string about_text(const machine_info& info, const machine_fault& fault, const char* process) {
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
    text += std::to_string(static_cast<int>(info.global_params().size()));
    if (process != nullptr) {
        text += "\n\nProcess:\t";
        text += process;
    }
    if (fault.call != nullptr) {
        text += "\n\nFaulted:\t";
        text += fault.call;
        text += " (";
        text += fault_cause(fault);
        text += ")";
    }
    return text;
}

void show_about_box(const machine_info& info, const machine_fault& fault,
                    const char* process) noexcept {
    try {
        std::string text = about_text(info, fault, process);
        constexpr unsigned ok_button = 0; // MB_OK, no icon
        platform::message_box(text.c_str(), about_caption, ok_button);
    } catch (const std::bad_alloc&) {
        // Nothing is shown when the text can't be built.
    }
}

} // namespace kestrune
