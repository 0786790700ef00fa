#include "choose.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace kestrune_host {

namespace {

std::string lowercase(const char* text) {
    std::string out;
    for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
    return out;
}

bool same(const char* a, const std::string& b) {
    return a != nullptr && b == a;
}

std::string name_of(const kestrune::host_info& info) {
    return info.full_name != nullptr ? info.full_name : "";
}

std::string list_names(const std::vector<kestrune::host_info*>& machines,
                       const std::vector<std::size_t>& which) {
    std::string out;
    for (std::size_t i : which) {
        out += (out.empty() ? "" : ", ") + ("\"" + name_of(*machines[i]) + "\"");
    }
    return out;
}

} // namespace

std::optional<long long> parse_integer(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') {
        return std::nullopt;
    }
    // strtoll takes a leading 0 as octal; a user writing 010 means ten.
    if (text.size() > 1 && text[0] == '0' && std::isdigit(static_cast<unsigned char>(text[1]))) {
        return std::strtoll(text.c_str(), nullptr, 10);
    }
    return value;
}

bool split_setting(const std::string& text, std::string& param, std::string& value) {
    std::size_t at = text.find('=');
    if (at == std::string::npos || at == 0 || at + 1 == text.size()) {
        return false;
    }
    param = text.substr(0, at);
    value = text.substr(at + 1);
    return true;
}

std::optional<std::size_t> choose_machine(const std::vector<kestrune::host_info*>& machines,
                                          const std::string& text, std::string& error) {
    if (machines.empty()) {
        error = "no machines were found, so there is no \"" + text + "\"";
        return std::nullopt;
    }
    if (text.size() > 1 && text[0] == '#') {
        auto index = parse_integer(text.substr(1));
        if (!index || *index < 0 || static_cast<std::size_t>(*index) >= machines.size()) {
            error = "there is no machine " + text + ": the list runs from #0 to #" +
                    std::to_string(machines.size() - 1);
            return std::nullopt;
        }
        return static_cast<std::size_t>(*index);
    }
    for (std::size_t i = 0; i < machines.size(); ++i) {
        const kestrune::host_info& m = *machines[i];
        if (same(m.full_name, text) || same(m.short_label, text) || same(m.identity_uri, text)) {
            return i;
        }
    }
    std::string lower = lowercase(text.c_str());
    for (std::size_t i = 0; i < machines.size(); ++i) {
        const kestrune::host_info& m = *machines[i];
        if (lowercase(m.full_name) == lower || lowercase(m.short_label) == lower ||
            lowercase(m.identity_uri) == lower) {
            return i;
        }
    }
    std::vector<std::size_t> partial;
    for (std::size_t i = 0; i < machines.size(); ++i) {
        const kestrune::host_info& m = *machines[i];
        if (!lower.empty() && (lowercase(m.full_name).find(lower) != std::string::npos ||
                               lowercase(m.short_label).find(lower) != std::string::npos)) {
            partial.push_back(i);
        }
    }
    if (partial.size() == 1) {
        return partial[0];
    }
    if (partial.size() > 1) {
        error = "\"" + text + "\" could be any of " + list_names(machines, partial) +
                "; give more of the name, or #N from the list";
        return std::nullopt;
    }
    error = "no machine is called \"" + text + "\" (\"kestrune-host list\" shows them all)";
    return std::nullopt;
}

std::optional<int> choose_parameter(const kestrune::host_info& info, const std::string& text,
                                    std::string& error) {
    auto count = static_cast<long long>(info.global_params().size());
    std::string machine = "\"" + name_of(info) + "\"";
    if (auto index = parse_integer(text)) {
        if (*index < 0 || *index >= count) {
            error = count == 0 ? "there is no parameter " + text + ": " + machine +
                                     " has no global parameters"
                               : "there is no parameter " + text + ": " + machine + " has " +
                                     std::to_string(count) + " global parameters (0 to " +
                                     std::to_string(count - 1) + ")";
            return std::nullopt;
        }
        return static_cast<int>(*index);
    }
    std::string lower = lowercase(text.c_str());
    for (std::size_t i = 0; i < info.global_params().size(); ++i) {
        const kestrune::host_parameter* p = info.global_params()[i];
        if (p != nullptr && lowercase(p->title) == lower) {
            return static_cast<int>(i);
        }
    }
    error = machine + " has no parameter called \"" + text + "\"";
    return std::nullopt;
}

} // namespace kestrune_host
