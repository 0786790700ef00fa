#include "state_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "hostkit/little_endian.h"

namespace kestrune_host {

namespace {

const std::string magic = "kestrune-state 1\n";

// The next line of content from at, without its line feed; false when none is left.
bool next_line(const bytes& content, std::size_t& at, std::string& line) {
    line.clear();
    while (at < content.size() && content[at] != '\n') {
        line += static_cast<char>(content[at++]);
        if (line.size() > 4096) {
            return false;
        }
    }
    if (at >= content.size()) {
        return false;
    }
    ++at;
    return true;
}

// Whether the stream is a blob as Kestrune writes it; error says what is wrong when not.
bool check_blob(const bytes& stream, std::string& error) {
    if (stream.empty()) {
        return true;
    }
    if (stream.size() < 8) {
        error = "its machine data is cut short (" + std::to_string(stream.size()) + " bytes)";
        return false;
    }
    int version = static_cast<int>(hostkit::read_le(&stream[0]));
    int size = static_cast<int>(hostkit::read_le(&stream[4]));
    if (version != 1) {
        error = "its machine data has version " + std::to_string(version) + ", not 1";
        return false;
    }
    if (size <= 0 || static_cast<std::size_t>(size) != stream.size() - 8) {
        error = "its machine data announces " + std::to_string(size) + " bytes but holds " +
                std::to_string(stream.size() - 8);
        return false;
    }
    return true;
}

} // namespace

bytes encode_state(const stored_state& state) {
    std::string header = magic + "machine " + state.machine_uri + "\n" + "bytes " +
                         std::to_string(state.stream.size()) + "\n";
    bytes out(header.begin(), header.end());
    out.insert(out.end(), state.stream.begin(), state.stream.end());
    return out;
}

std::optional<stored_state> decode_state(const bytes& content, std::string& error) {
    if (content.size() < magic.size() ||
        std::memcmp(content.data(), magic.data(), magic.size()) != 0) {
        error = "it is not a Kestrune state file";
        return std::nullopt;
    }
    std::size_t at = magic.size();
    std::string line;
    stored_state state;
    if (!next_line(content, at, line) || line.rfind("machine ", 0) != 0) {
        error = "its header names no machine";
        return std::nullopt;
    }
    state.machine_uri = line.substr(8);
    if (!next_line(content, at, line) || line.rfind("bytes ", 0) != 0) {
        error = "its header gives no size";
        return std::nullopt;
    }
    std::string digits = line.substr(6);
    if (digits.empty() || digits.size() > 10 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        error = "its size \"" + digits + "\" is not a number";
        return std::nullopt;
    }
    unsigned long long size = std::stoull(digits);
    std::size_t left = content.size() - at;
    if (size != left) {
        error = "it announces " + digits + " bytes of state but holds " + std::to_string(left);
        return std::nullopt;
    }
    state.stream.assign(content.begin() + static_cast<std::ptrdiff_t>(at), content.end());
    if (!check_blob(state.stream, error)) {
        return std::nullopt;
    }
    return state;
}

std::optional<bytes> read_file(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "can't read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    bytes content;
    unsigned char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        content.insert(content.end(), chunk, chunk + got);
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        error = "can't read " + path;
        return std::nullopt;
    }
    return content;
}

bool can_write(const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::path target(path);
    if (fs::is_directory(target, ignored)) {
        error = "can't write " + path + ": it is a folder";
        return false;
    }
    bool exists = fs::exists(target, ignored);
    fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const std::string& checked = exists ? path : folder.string();
    if (access(checked.c_str(), W_OK) != 0) {
        error = "can't write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool write_file(const std::string& path, const bytes& content, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "can't write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error = "can't write " + path;
        std::remove(path.c_str());
    }
    return ok;
}

} // namespace kestrune_host
