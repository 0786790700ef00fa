// The kit's platform layer: Win32 on Windows, dlopen and /proc natively.
#include "hostkit/host_platform.h"

#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace hostkit {

#if defined(_WIN32)

const char* const library_file_name = "kestrune.dll";

std::string program_file_name(const std::string& name) {
    return name + ".exe";
}

void* load_module(const std::string& path) {
    return LoadLibraryA(path.c_str());
}

void* find_symbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void free_module(void* module) {
    if (module != nullptr) {
        FreeLibrary(static_cast<HMODULE>(module));
    }
}

bool module_is_loaded(const std::string& path) {
    return GetModuleHandleA(path.c_str()) != nullptr;
}

std::string executable_folder() {
    char path[4096] = {};
    if (GetModuleFileNameA(nullptr, path, sizeof path - 1) == 0) {
        return ".";
    }
    return std::filesystem::path(path).parent_path().string();
}

#else

const char* const library_file_name = "kestrune.so";

std::string program_file_name(const std::string& name) {
    return name;
}

void* load_module(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* find_symbol(void* module, const char* name) {
    return dlsym(module, name);
}

void free_module(void* module) {
    if (module != nullptr) {
        dlclose(module);
    }
}

bool module_is_loaded(const std::string& path) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) {
        return false;
    }
    dlclose(module);
    return true;
}

std::string executable_folder() {
    char path[4096] = {};
    if (readlink("/proc/self/exe", path, sizeof path - 1) <= 0) {
        return ".";
    }
    return std::filesystem::path(path).parent_path().string();
}

#endif

} // namespace hostkit
