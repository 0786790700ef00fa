#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/files.h"

namespace kestrune::platform {

namespace {

// One open folder search: the folder's stream and the wildcard for the names in it.
struct posix_search {
    DIR* folder;
    char wildcard[max_path];
};

// Fills entry from the next name of the search that fits its wildcard; false when none is left.
bool next_match(posix_search& search, search_entry& entry) {
    while (dirent* found = readdir(search.folder)) {
        std::size_t length = std::strlen(found->d_name);
        if (length >= sizeof entry.name) {
            continue;
        }
        if (fnmatch(search.wildcard, found->d_name, FNM_CASEFOLD) == 0) {
            std::memcpy(entry.name, found->d_name, length + 1);
            return true;
        }
    }
    return false;
}

} // namespace

search_handle find_first(const char* pattern, search_entry& entry) {
    if (pattern == nullptr) {
        return nullptr;
    }
    std::size_t length = std::strlen(pattern);
    if (length == 0 || length >= max_path) {
        return nullptr;
    }
    char folder[max_path];
    std::memcpy(folder, pattern, length + 1);
    char* cut = std::strrchr(folder, path_separator);
    const char* wildcard = pattern;
    if (cut != nullptr) {
        wildcard = pattern + (cut - folder) + 1;
        if (cut == folder) {
            cut[1] = '\0'; // the root folder keeps its separator
        } else {
            *cut = '\0';
        }
    } else {
        std::memcpy(folder, ".", 2);
    }

    auto* search = new (std::nothrow) posix_search;
    if (search == nullptr) {
        return nullptr;
    }
    std::memcpy(search->wildcard, wildcard, std::strlen(wildcard) + 1); // fits: a part of pattern
    search->folder = opendir(folder);
    if (search->folder == nullptr || !next_match(*search, entry)) {
        find_close(search);
        return nullptr;
    }
    return search;
}

bool find_next(search_handle search, search_entry& entry) {
    if (search == nullptr) {
        return false;
    }
    return next_match(*static_cast<posix_search*>(search), entry);
}

void find_close(search_handle search) {
    auto* open = static_cast<posix_search*>(search);
    if (open == nullptr) {
        return;
    }
    if (open->folder != nullptr) {
        closedir(open->folder);
    }
    delete open;
}

unsigned file_attributes(const char* path) {
    struct stat status;
    if (path == nullptr || lstat(path, &status) != 0) {
        return no_attributes;
    }
    // A symlink reports what it points to, marked as a link, as Windows does for a junction.
    unsigned link = 0;
    if (S_ISLNK(status.st_mode)) {
        link = link_attribute;
        if (stat(path, &status) != 0) {
            return link;
        }
    }
    constexpr unsigned normal_attribute = 0x80; // FILE_ATTRIBUTE_NORMAL
    return link | (S_ISDIR(status.st_mode) ? folder_attribute : normal_attribute);
}

bool identify_folder(const char* path, folder_identity& identity) {
    struct stat status;
    if (path == nullptr || stat(path, &status) != 0 || !S_ISDIR(status.st_mode)) {
        return false;
    }
    identity.volume = static_cast<unsigned long long>(status.st_dev);
    identity.index = static_cast<unsigned long long>(status.st_ino);
    identity.final_path[0] = '\0';
    if (identity.index == 0) {
        char resolved[PATH_MAX];
        if (realpath(path, resolved) == nullptr || std::strlen(resolved) >= max_path) {
            return false;
        }
        std::memcpy(identity.final_path, resolved, std::strlen(resolved) + 1);
    }
    return true;
}

bool read_file_stamp(const char* path, file_stamp& stamp) {
    struct stat status;
    if (path == nullptr || stat(path, &status) != 0 || S_ISDIR(status.st_mode)) {
        return false;
    }
    stamp.size = static_cast<unsigned long long>(status.st_size);
    stamp.time = static_cast<unsigned long long>(status.st_mtim.tv_sec) * 1000000000ull +
                 static_cast<unsigned long long>(status.st_mtim.tv_nsec);
    return true;
}

bool replace_file(const char* from, const char* to) {
    return from != nullptr && to != nullptr && std::rename(from, to) == 0;
}

bool make_folder(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    struct stat status;
    if (mkdir(path, 0700) == 0) {
        return true;
    }
    return errno == EEXIST && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

unsigned long long process_id() {
    return static_cast<unsigned long long>(getpid());
}

} // namespace kestrune::platform
