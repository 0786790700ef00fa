#include "runtime/faulted_libraries.h"

#include <mutex>
#include <new>
#include <set>
#include <string>

namespace kestrune {

namespace {

std::mutex registry_lock;

// Made on first use (an empty set allocates nothing) and destroyed with the module: only the
// host's calls reach it, and every instance has been released by then.
std::set<std::string>& registry() {
    static std::set<std::string> paths;
    return paths;
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
