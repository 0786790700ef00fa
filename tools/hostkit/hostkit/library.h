// The Kestrune library as a host sees it: a module loaded by path, with its two exports.
// (host_platform.h, included here, has the module and folder calls that hosts use with it.)
#pragma once

#include <string>

#include "host/host_interface.h"
#include "hostkit/host_platform.h"

namespace hostkit {

class library {
public:
    library() = default;
    explicit library(const std::string& path) { open(path); }
    ~library() { close(); }
    library(const library&) = delete;
    library& operator=(const library&) = delete;

    // Loads the module at path and looks up both exports; false when either is missing (the
    // module is then unloaded again).
    bool open(const std::string& path);
    void close();
    bool is_open() const { return module_ != nullptr; }

    // zzub_get_signature; null when the library isn't open.
    const char* signature() const;
    // zzub_get_plugincollection: a new collection that the caller ends with release(); null
    // when the library isn't open or has none to give.
    kestrune::host_collection* new_collection() const;

private:
    using signature_export = const char* (*)();
    using collection_export = kestrune::host_collection* (*)();

    void* module_ = nullptr;
    signature_export signature_ = nullptr;
    collection_export collection_ = nullptr;
};

// The library beside the running program, as a host finds it.
std::string library_beside_program();

} // namespace hostkit
