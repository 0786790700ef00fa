// The platform calls on Linux (glibc): dlopen for libraries, opendir for folder searches,
// standard error for message boxes. A module handle is what dlopen answers, which glibc makes
// the module's link_map, so this library's own handle can be had without loading anything.
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fnmatch.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace kestrune::platform {

namespace {

// Copies text into buffer as GetModuleFileNameA does: at most size characters, terminated
// when there is room for the terminator.
unsigned copy_path(const char* text, char* buffer, unsigned size) {
    std::size_t length = std::strlen(text);
    unsigned copied = length < size ? static_cast<unsigned>(length) : size;
    std::memcpy(buffer, text, copied);
    if (copied < size) {
        buffer[copied] = '\0';
    }
    return copied;
}

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

module_handle module_containing(const void* address) {
    Dl_info info;
    link_map* map = nullptr;
    if (address == nullptr ||
        dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
        return nullptr;
    }
    return map;
}

bool pin_module(const void* address) {
    Dl_info info;
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return false;
    }
    // A reference of our own that is never dropped, on a module that is never unloaded.
    return dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

module_handle executable_module() {
    static void* const main_program = dlopen(nullptr, RTLD_LAZY);
    return main_program;
}

unsigned module_file_name(module_handle module, char* buffer, unsigned size) {
    if (module == nullptr || buffer == nullptr || size == 0) {
        return 0;
    }
    link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        return 0;
    }
    if (map->l_name != nullptr && map->l_name[0] != '\0') {
        return copy_path(map->l_name, buffer, size);
    }
    // The main program's map has no name of its own.
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return 0;
    }
    path[length] = '\0';
    return copy_path(path, buffer, size);
}

// Natively the floating-point settings are left to each side: nothing is kept.
fp_settings current_fp_settings() {
    return fp_settings{};
}

module_handle load_library(const char* path, fp_settings* left) {
    if (left != nullptr) {
        *left = fp_settings{};
    }
    if (path == nullptr || path[0] == '\0') {
        return nullptr;
    }
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* find_export(module_handle library, const char* name) {
    if (library == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(library, name);
}

void free_library(module_handle library) {
    if (library != nullptr) {
        dlclose(library);
    }
}

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

int message_box(const char* text, const char* caption, unsigned type) {
    (void)type;
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "",
                 text != nullptr ? text : "");
    return 1;
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

} // namespace kestrune::platform
