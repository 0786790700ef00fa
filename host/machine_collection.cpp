#include "host/machine_collection.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "host/machine_probe.h"
#include "host/scan_paths.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/process.h"

namespace kestrune {

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
    } else if (key != nullptr && value != nullptr && std::strcmp(key, scan_option) == 0) {
        if (std::strcmp(value, "fresh") == 0 || std::strcmp(value, "cached") == 0) {
            fresh = value[0] == 'f';
        }
    }
}

void machine_collection::release() noexcept {
    infos.clear();
    factory = nullptr;
    delete this;
}

void machine_collection::scan_folder(char* path) noexcept {
    visited_.clear();
    if (store_.open(process_environment())) {
        store_.load(cache);
        // A DLL whose probe in process ended the last scan: remembered as such.
        // One replaced since is probed afresh.
        std::string ended;
        platform::file_stamp then;
        platform::file_stamp now;
        if (store_.take_mark(ended, then) && platform::read_file_stamp(ended.c_str(), now) &&
            now.size == then.size && now.time == then.time) {
            cache.record(ended, now, probe_outcome::ended_scanner);
            cache_changed_ = true;
        }
    } else {
        cache.clear();
    }
    cache.unsee();
    const char* where = std::getenv("KESTRUNE_SCAN");
    in_process_ = where != nullptr && std::strcmp(where, "in-process") == 0;
    scanner.reset();
    saved_at_ = platform::monotonic_microseconds();
    search_folder(path);
    store_.end_marks();
    scanner.end();
    save_cache(true);
    visited_.clear();
}

void machine_collection::save_cache(bool final) noexcept {
    constexpr unsigned long long second = 1000000;
    unsigned long long now = platform::monotonic_microseconds();
    if (!cache_changed_ || (!final && now - saved_at_ < second)) {
        return;
    }
    store_.save(cache); // one that can't be written is no error: nothing is kept
    cache_changed_ = false;
    saved_at_ = now;
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
    try {
        std::string key = path;
        platform::file_stamp stamp;
        bool stamped = platform::read_file_stamp(path, stamp);
        scan_status status = scan_status::fresh;
        scan_step step = stamped ? cache.decide(key, stamp, fresh, &status) : scan_step::probe;
        if (step == scan_step::pass_over) {
            return;
        }
        if (step == scan_step::use_cached) {
            if (const cache_entry* entry = cache.find(key)) {
                announce_record(entry->description, path);
            }
            return;
        }
        description_record record;
        probe_outcome outcome = probe_outcome::not_machine;
        if (in_process_ || !scanner.probe(path, outcome, record)) {
            if (status == scan_status::remembered) {
                return; // it hung a scanner: in this process it would hang the host
            }
            store_.mark(path, stamp);
            outcome = probe_in_process(path, record);
            store_.unmark();
        }
        if (stamped) {
            cache_changed_ = cache.record(key, stamp, outcome, &record) || cache_changed_;
        }
        if (outcome == probe_outcome::description) {
            announce_record(record, path);
        }
        save_cache(false);
    } catch (...) {
        // out of memory for the path's copy: passed over
    }
}

void machine_collection::announce_record(const description_record& record,
                                         const char* path) noexcept {
    std::unique_ptr<machine_info> info(new (std::nothrow) machine_info());
    if (info == nullptr || !fill_from_record(*info, record, path, make_plugin_)) {
        return;
    }
    machine_info* kept = info.get();
    kept->isolation = &isolation;
    if (infos.push(std::move(info))) {
        factory->announce(kept); // a description that can't be kept is destroyed unseen
    }
}

} // namespace kestrune
