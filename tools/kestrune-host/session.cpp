#include "session.h"

#include <filesystem>

namespace kestrune_host {

std::string default_library_path() {
    return hostkit::library_beside_program();
}

std::string machine_folder() {
    return (std::filesystem::path(hostkit::executable_folder()) / "Gear" / "Psycle").string();
}

session::~session() {
    if (collection_ != nullptr) {
        collection_->release();
    }
    collection_ = nullptr;
    library_.close();
}

void session_factory::announce(kestrune::host_info* info) {
    try {
        announced.push_back(info);
        if (hook) {
            hook(announced.size());
        }
    } catch (...) {
        // Nothing unwinds into the library: a description that can't be kept is not shown.
    }
}

bool session::open(const std::string& library_path, std::string& error, bool fresh_scan,
                   std::function<void(std::size_t count)> announced) {
    std::error_code ignored;
    if (!std::filesystem::exists(library_path, ignored)) {
        error = "there is no Kestrune library at " + library_path;
        return false;
    }
    if (!library_.open(library_path)) {
        error = "can't load the Kestrune library " + library_path +
                ": it doesn't load, or lacks zzub_get_signature or zzub_get_plugincollection";
        return false;
    }
    collection_ = library_.new_collection();
    if (collection_ == nullptr) {
        error = "the Kestrune library " + library_path + " gave no collection";
        return false;
    }
    if (fresh_scan) {
        collection_->set_option("kestrune.scan", "fresh");
    }
    factory_.hook = std::move(announced);
    collection_->setup(&factory_);
    factory_.hook = nullptr;
    return true;
}

void session::set_option(const char* key, const char* value) {
    if (collection_ != nullptr) {
        collection_->set_option(key, value);
    }
}

std::string session::signature() const {
    const char* text = library_.signature();
    return text != nullptr ? text : "";
}

instance::instance(kestrune::host_info& info, const kestrune::host_master_info& master)
    : info_(info), master_(master) {}

instance::~instance() {
    if (plugin_ != nullptr) {
        plugin_->release();
    }
}

bool instance::start(kestrune::host_archive* archive, std::string& error) {
    std::string name = info_.full_name != nullptr ? info_.full_name : "";
    plugin_ = info_.make_instance();
    if (plugin_ == nullptr) {
        error = "\"" + name + "\" gave no instance";
        return false;
    }
    plugin_->master_info = &master_;
    plugin_->host = nullptr;
    plugin_->start(archive);
    // The host interface has no question for whether start found a machine, so the answer is
    // read off a value text: an instance whose machine didn't load answers the empty text for
    // every value, even the track values that it formats itself; one with a machine never does
    // for those.
    const char* probe = plugin_->value_text(static_cast<int>(info_.global_params().size()), 0);
    if (probe == nullptr || probe[0] == '\0') {
        error = "the machine of \"" + name + "\" didn't load: its DLL failed to load or to " +
                "create a machine";
        return false;
    }
    return true;
}

} // namespace kestrune_host
