#include "hostkit/library.h"

#include <filesystem>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace hostkit {

namespace {

void* load(const std::string& path) {
#if defined(_WIN32)
    return LoadLibraryA(path.c_str());
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void* symbol(void* module, const char* name) {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
    return dlsym(module, name);
#endif
}

void unload(void* module) {
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(module));
#else
    dlclose(module);
#endif
}

} // namespace

bool library::open(const std::string& path) {
    close();
    module_ = load(path);
    if (module_ == nullptr) {
        return false;
    }
    signature_ = reinterpret_cast<signature_export>(symbol(module_, "zzub_get_signature"));
    collection_ = reinterpret_cast<collection_export>(symbol(module_, "zzub_get_plugincollection"));
    if (signature_ == nullptr || collection_ == nullptr) {
        close();
        return false;
    }
    return true;
}

void library::close() {
    if (module_ != nullptr) {
        unload(module_);
    }
    module_ = nullptr;
    signature_ = nullptr;
    collection_ = nullptr;
}

const char* library::signature() const {
    return signature_ != nullptr ? signature_() : nullptr;
}

kestrune::host_collection* library::new_collection() const {
    return collection_ != nullptr ? collection_() : nullptr;
}

bool module_is_loaded(const std::string& path) {
#if defined(_WIN32)
    return GetModuleHandleA(path.c_str()) != nullptr;
#else
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) {
        return false;
    }
    dlclose(module);
    return true;
#endif
}

std::string executable_folder() {
    char path[4096] = {};
#if defined(_WIN32)
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
#else
    if (readlink("/proc/self/exe", path, sizeof path - 1) <= 0) {
        return ".";
    }
#endif
    return std::filesystem::path(path).parent_path().string();
}

} // namespace hostkit
