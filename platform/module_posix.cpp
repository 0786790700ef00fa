// Modules on Linux (glibc): dlopen for libraries. A module handle is what dlopen answers, which
// glibc makes the module's link_map, so this library's own handle can be had without loading
// anything.
#include "platform/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

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
    if (map->l_name != nullptr && map->l_name[0] == '/') {
        return copy_path(map->l_name, buffer, size);
    }
    if (map->l_name != nullptr && map->l_name[0] != '\0') {
        // A library loaded by a relative name ("./kestrune.so") keeps that name; its origin is
        // the absolute folder the loader found it in when it loaded it, whatever the working
        // folder is now.
        char origin[PATH_MAX];
        const char* name = std::strrchr(map->l_name, '/');
        name = name != nullptr ? name + 1 : map->l_name;
        char joined[2 * PATH_MAX];
        if (dlinfo(module, RTLD_DI_ORIGIN, origin) != 0 || origin[0] != '/') {
            return 0;
        }
        int written = std::snprintf(joined, sizeof joined, "%s/%s", origin, name);
        if (written <= 0 || static_cast<std::size_t>(written) >= sizeof joined) {
            return 0;
        }
        return copy_path(joined, buffer, size);
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

} // namespace kestrune::platform
