#include "host/scan_paths.h"

#include <cstring>

#include "platform/files.h"

namespace kestrune {

namespace {

// Appends text to the NUL-terminated content of buffer; false (buffer emptied) when it
// doesn't fit.
bool append(char* buffer, std::size_t size, std::size_t& used, const char* text) {
    std::size_t length = std::strlen(text);
    if (used + length + 1 > size) {
        buffer[0] = '\0';
        used = 0;
        return false;
    }
    std::memcpy(buffer + used, text, length + 1);
    used += length;
    return true;
}

} // namespace

bool machine_folder(const char* executable_path, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    buffer[0] = '\0';
    if (executable_path == nullptr || executable_path[0] == '\0') {
        return false;
    }
    const char* cut = std::strrchr(executable_path, platform::path_separator);
    std::size_t folder = cut != nullptr ? static_cast<std::size_t>(cut - executable_path)
                                        : std::strlen(executable_path);
    if (folder + 1 > size) {
        return false;
    }
    std::memcpy(buffer, executable_path, folder);
    buffer[folder] = '\0';
    constexpr char s = platform::path_separator;
    const char tail[] = {s, 'G', 'e', 'a', 'r', s, 'P', 's', 'y', 'c', 'l', 'e', s, '\0'};
    return append(buffer, size, folder, tail);
}

bool join_path(const char* folder, const char* name, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    buffer[0] = '\0';
    if (folder == nullptr || name == nullptr) {
        return false;
    }
    const char separator[] = {platform::path_separator, '\0'};
    std::size_t used = 0;
    return append(buffer, size, used, folder) && append(buffer, size, used, separator) &&
           append(buffer, size, used, name);
}

bool is_dot_entry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

namespace {
char folded(char c) {
    return platform::paths_ignore_case && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}
} // namespace

bool same_folder(const platform::folder_identity& a, const platform::folder_identity& b) {
    if (a.index != 0 || b.index != 0) {
        return a.index != 0 && b.index != 0 && a.volume == b.volume && a.index == b.index;
    }
    for (std::size_t i = 0; i < sizeof a.final_path; ++i) {
        if (folded(a.final_path[i]) != folded(b.final_path[i])) {
            return false;
        }
        if (a.final_path[i] == '\0') {
            return true;
        }
    }
    return true;
}

} // namespace kestrune
