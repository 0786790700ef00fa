#include "host/machine_collection.h"

#include <cstring>
#include <new>

#include "host/scan_paths.h"
#include "platform/platform.h"

namespace kestrune {

namespace {

// What the guarded part of a probe works on: a machine's "GetInfo", and the description that
// its answer fills. The description is owned by probe_machine, outside the guarded frame, so
// that a fault, which leaves the frame without unwinding it, loses nothing.
struct probe_call {
    get_info_function get_info;
    const char* path;
    instance_maker make_plugin;
    machine_info* info;
    bool complete;
};

void describe(void* context) {
    auto& call = *static_cast<probe_call*>(context);
    const machine_description* description = call.get_info();
    call.complete = description != nullptr &&
                    fill_machine_info(*call.info, *description, call.path, call.make_plugin);
}

} // namespace

void machine_collection::setup(host_factory* new_factory) noexcept {
    factory = new_factory;
    if (factory == nullptr) {
        return;
    }
    platform::module_handle executable = platform::executable_module();
    if (executable == nullptr) {
        return;
    }
    char executable_path[platform::max_path + 1] = {};
    unsigned length = platform::module_file_name(executable, executable_path, platform::max_path);
    if (length == 0 || length >= platform::max_path) {
        return; // no path, or one cut short
    }
    char folder[platform::max_path + 13 + 1];
    if (!machine_folder(executable_path, folder, sizeof folder)) {
        return;
    }
    scan_folder(folder);
}

host_info* machine_collection::info_for_uri(const char* uri, host_archive* archive) noexcept {
    (void)uri, (void)archive;
    return nullptr;
}

const char* machine_collection::collection_uri() noexcept {
    return nullptr;
}

void machine_collection::set_option(const char* key, const char* value) noexcept {
    isolation_mode mode = isolation_mode::after_fault;
    if (parse_isolation_option(key, value, mode)) {
        isolation.store(mode, std::memory_order_relaxed);
    }
}

void machine_collection::release() noexcept {
    infos.clear();
    factory = nullptr;
    delete this;
}

void machine_collection::scan_folder(char* path) noexcept {
    visited_.clear();
    search_folder(path);
    visited_.clear();
}

bool machine_collection::first_visit(const char* path, bool is_link) noexcept {
    platform::folder_identity identity;
    if (!platform::identify_folder(path, identity)) {
        return !is_link;
    }
    for (const platform::folder_identity& visited : visited_) {
        if (same_folder(visited, identity)) {
            return false;
        }
    }
    return visited_.push(identity) || !is_link;
}

void machine_collection::search_folder(char* path) noexcept {
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    std::size_t length = std::strlen(path);
    if (path[length - 1] == platform::path_separator) {
        path[length - 1] = '\0';
    }
    unsigned own_attributes = platform::file_attributes(path);
    if (!first_visit(path, own_attributes != platform::no_attributes &&
                               (own_attributes & platform::link_attribute) != 0)) {
        return;
    }

    char pattern[platform::max_path];
    char entry_path[platform::max_path];
    platform::search_entry entry;

    if (join_path(path, "*", pattern, sizeof pattern)) {
        platform::search_handle search = platform::find_first(pattern, entry);
        if (search != nullptr) {
            do {
                if (is_dot_entry(entry.name) ||
                    !join_path(path, entry.name, entry_path, sizeof entry_path)) {
                    continue;
                }
                // Linked folders too; search_folder searches each real folder once.
                unsigned attributes = platform::file_attributes(entry_path);
                if (attributes != platform::no_attributes &&
                    (attributes & platform::folder_attribute) != 0) {
                    search_folder(entry_path);
                }
            } while (platform::find_next(search, entry));
            platform::find_close(search);
        }
    }

    if (!join_path(path, "*.dll", pattern, sizeof pattern)) {
        return;
    }
    platform::search_handle search = platform::find_first(pattern, entry);
    if (search == nullptr) {
        return;
    }
    do {
        if (join_path(path, entry.name, entry_path, sizeof entry_path)) {
            probe_machine(entry_path);
        }
    } while (platform::find_next(search, entry));
    platform::find_close(search);
}

void machine_collection::probe_machine(const char* path) noexcept {
    if (factory == nullptr || path == nullptr || path[0] == '\0') {
        return;
    }
    platform::module_handle library = platform::load_library(path);
    if (library == nullptr) {
        return;
    }
    auto get_info =
        reinterpret_cast<get_info_function>(platform::find_export(library, get_info_export));
    std::unique_ptr<machine_info> info(get_info != nullptr ? new (std::nothrow) machine_info()
                                                           : nullptr);
    if (info == nullptr) {
        platform::free_library(library);
        return;
    }
    probe_call call{get_info, path, make_plugin_, info.get(), false};
    if (!platform::guarded_call(describe, &call)) {
        // A machine that faults while it describes itself is passed over, and what its
        // description had become goes with info. Its DLL stays loaded for good, as an
        // instance's does: its detach code would run in whatever state the fault left.
        return;
    }
    machine_info* kept = info.get();
    kept->isolation = &isolation;
    if (call.complete && infos.push(std::move(info))) {
        factory->announce(kept); // a description that can't be kept is destroyed unseen
    }
    platform::free_library(library);
}

} // namespace kestrune
