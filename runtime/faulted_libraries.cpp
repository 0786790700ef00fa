#include "runtime/faulted_libraries.h"

#include <mutex>
#include <new>
#include <set>
#include <string>

namespace kestrune {

namespace {

std::mutex registry_lock;

// Made on first use and never destroyed: a machine's thread may fault while the process ends.
std::set<std::string>& registry() {
    static auto* paths = new std::set<std::string>;
    return *paths;
}

} // namespace

void remember_faulted_library(const char* path) noexcept {
    if (path == nullptr) {
        return;
    }
    try {
        std::lock_guard<std::mutex> hold(registry_lock);
        registry().insert(path);
    } catch (...) {
        // Out of memory (or a lock that can't be taken): the DLL isn't remembered.
    }
}

bool library_faulted(const char* path) noexcept {
    if (path == nullptr) {
        return false;
    }
    try {
        std::lock_guard<std::mutex> hold(registry_lock);
        return registry().count(path) != 0;
    } catch (...) {
        return false;
    }
}

} // namespace kestrune
