#include "hostkit/library.h"

#include <filesystem>

namespace hostkit {

bool library::open(const std::string& path) {
    close();
    module_ = load_module(path);
    if (module_ == nullptr) {
        return false;
    }
    signature_ = reinterpret_cast<signature_export>(find_symbol(module_, "zzub_get_signature"));
    collection_ =
        reinterpret_cast<collection_export>(find_symbol(module_, "zzub_get_plugincollection"));
    if (signature_ == nullptr || collection_ == nullptr) {
        close();
        return false;
    }
    return true;
}

void library::close() {
    free_module(module_);
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

std::string library_beside_program() {
    return (std::filesystem::path(executable_folder()) / library_file_name).string();
}

} // namespace hostkit
