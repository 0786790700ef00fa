#include "host/scan_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/files.h"

namespace kestrune {

namespace {

const char cache_name[] = "scan-cache.bin";
const char mark_name[] = "scan-probe.txt";
// The longest name appended to the folder: the new cache file, "scan-cache.<pid>.new".
constexpr std::size_t longest_name = sizeof cache_name + 24;

bool set(const char* value) {
    return value != nullptr && value[0] != '\0';
}

std::string joined(const std::string& folder, const char* name) {
    return folder + platform::path_separator + name;
}

// Reads the whole file at path, at most largest_cache_file bytes; false when it can't.
bool read_whole(const std::string& path, std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    bool whole = false;
    try {
        char chunk[16384];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 &&
               bytes.size() + got <= largest_cache_file) {
            bytes.append(chunk, got);
        }
        whole = got == 0 && std::ferror(file) == 0;
    } catch (...) {
        whole = false;
    }
    std::fclose(file);
    return whole;
}

bool write_whole(const std::string& path, const char* bytes, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fwrite(bytes, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

} // namespace

cache_environment process_environment() noexcept {
    cache_environment env;
    env.kestrune_cache = std::getenv("KESTRUNE_CACHE");
    env.local_app_data = std::getenv("LOCALAPPDATA");
    env.xdg_cache_home = std::getenv("XDG_CACHE_HOME");
    env.home = std::getenv("HOME");
    return env;
}

bool choose_cache_folder(const cache_environment& env, std::string& folder,
                         std::string& parent) noexcept {
    try {
        folder.clear();
        parent.clear();
        if (set(env.kestrune_cache)) {
            if (std::strcmp(env.kestrune_cache, "off") == 0) {
                return false;
            }
            folder = env.kestrune_cache;
        } else if (platform::path_separator == '\\') {
            if (!set(env.local_app_data)) {
                return false;
            }
            folder = joined(env.local_app_data, "Kestrune");
        } else if (set(env.xdg_cache_home)) {
            folder = joined(env.xdg_cache_home, "kestrune");
        } else if (set(env.home)) {
            parent = joined(env.home, ".cache");
            folder = joined(parent, "kestrune");
        } else {
            return false;
        }
        while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) {
            folder.pop_back();
        }
        if (folder.size() + 1 + longest_name > platform::max_path) {
            folder.clear();
            parent.clear();
            return false;
        }
        return true;
    } catch (...) {
        folder.clear();
        parent.clear();
        return false;
    }
}

bool scan_store::open(const cache_environment& env) noexcept {
    std::string parent;
    if (!choose_cache_folder(env, folder_, parent)) {
        return false;
    }
    if (!parent.empty()) {
        platform::make_folder(parent.c_str());
    }
    if (!platform::make_folder(folder_.c_str())) {
        folder_.clear();
        return false;
    }
    return true;
}

std::string scan_store::cache_path() const {
    return joined(folder_, cache_name);
}

std::string scan_store::mark_path() const {
    return joined(folder_, mark_name);
}

bool scan_store::load(scan_cache& cache) const noexcept {
    cache.clear();
    try {
        std::string bytes;
        return is_open() && read_whole(cache_path(), bytes) &&
               cache.read(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    } catch (...) {
        return false;
    }
}

bool scan_store::save(const scan_cache& cache) const noexcept {
    try {
        std::string bytes;
        auto exists = [](const std::string& path) {
            platform::file_stamp stamp;
            return platform::read_file_stamp(path.c_str(), stamp);
        };
        if (!is_open() || !cache.write(bytes, exists)) {
            return false;
        }
        char name[64];
        std::snprintf(name, sizeof name, "scan-cache.%llu.new", platform::process_id());
        std::string fresh = joined(folder_, name);
        std::string target = cache_path();
        if (write_whole(fresh, bytes.data(), bytes.size()) &&
            platform::replace_file(fresh.c_str(), target.c_str())) {
            return true;
        }
        std::remove(fresh.c_str());
        return false;
    } catch (...) {
        return false;
    }
}

void scan_store::mark(const char* path, const platform::file_stamp& stamp) noexcept {
    try {
        if (!is_open() || path == nullptr) {
            return;
        }
        if (marks_ == nullptr) {
            marks_ = std::fopen(mark_path().c_str(), "wb");
        }
        if (marks_ != nullptr && std::fseek(marks_, 0, SEEK_SET) == 0) {
            std::fprintf(marks_, "%llu %llu %s", stamp.size, stamp.time, path);
            std::fputc('\0', marks_);
            std::fflush(marks_);
        }
    } catch (...) {
    }
}

void scan_store::unmark() noexcept {
    if (marks_ != nullptr && std::fseek(marks_, 0, SEEK_SET) == 0) {
        std::fputc('\0', marks_); // an empty record: what follows the first NUL is no part
        std::fflush(marks_);
    }
}

void scan_store::end_marks() noexcept {
    if (marks_ == nullptr) {
        return;
    }
    std::fclose(marks_);
    marks_ = nullptr;
    try {
        std::remove(mark_path().c_str());
    } catch (...) {
    }
}

bool scan_store::take_mark(std::string& path, platform::file_stamp& stamp) const noexcept {
    try {
        path.clear();
        if (!is_open()) {
            return false;
        }
        std::string bytes;
        std::string where = mark_path();
        if (!read_whole(where, bytes)) {
            return false;
        }
        std::remove(where.c_str());
        bytes.resize(std::min(bytes.find('\0'), bytes.size()));
        // "size time path", each number in decimal.
        const char* text = bytes.c_str();
        char* end = nullptr;
        for (unsigned long long* field : {&stamp.size, &stamp.time}) {
            if (*text < '0' || *text > '9') {
                return false;
            }
            *field = std::strtoull(text, &end, 10);
            if (*end != ' ') {
                return false;
            }
            text = end + 1;
        }
        std::size_t length = std::strlen(text);
        if (length == 0 || length >= platform::max_path) {
            return false;
        }
        path.assign(text, length);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace kestrune
