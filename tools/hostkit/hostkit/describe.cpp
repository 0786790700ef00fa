#include "hostkit/describe.h"

namespace hostkit {

std::string escape_text(const char* text) {
    if (text == nullptr) {
        return "(null)";
    }
    std::string out;
    for (const char* c = text; *c != '\0'; ++c) {
        switch (*c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += *c;
        }
    }
    return out;
}

std::string describe_parameter(const char* role, int index, const kestrune::host_parameter& p) {
    return std::string(role) + " " + std::to_string(index) + " kind=" + std::to_string(p.kind) +
           " range=" + std::to_string(p.lowest) + ".." + std::to_string(p.highest) +
           " empty=" + std::to_string(p.empty_value) + " flags=" + std::to_string(p.flags) +
           " default=" + std::to_string(p.default_value) + " title=" + escape_text(p.title) +
           " caption=" + escape_text(p.caption) + "\n";
}

std::string describe_info(const kestrune::host_info& info) {
    std::string out =
        "info kind=" + std::to_string(info.kind) +
        " version=" + std::to_string(info.interface_version) +
        " flags=" + std::to_string(info.flags) + " tracks=" + std::to_string(info.fewest_tracks) +
        ".." + std::to_string(info.most_tracks) + " name=" + escape_text(info.full_name) +
        " label=" + escape_text(info.short_label) + " author=" + escape_text(info.author) +
        " uri=" + escape_text(info.identity_uri) + " commands=" + escape_text(info.command_list) +
        "\n";
    int index = 0;
    for (const kestrune::host_parameter* p : info.global_params()) {
        if (p != nullptr) {
            out += describe_parameter("global", index, *p);
        }
        ++index;
    }
    index = 0;
    for (const kestrune::host_parameter* p : info.track_params()) {
        if (p != nullptr) {
            out += describe_parameter("track", index, *p);
        }
        ++index;
    }
    return out;
}

} // namespace hostkit
