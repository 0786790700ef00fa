// The Kestrune library as this host holds it: the module, one collection, and the
// descriptions that the collection announced to the host's factory. Everything is reached
// through the two exports and the interface objects, as any zzub host does.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "host/host_interface.h"
#include "hostkit/library.h"
#include "hostkit/recording_factory.h"

namespace kestrune_host {

// kestrune.so (kestrune.dll on Windows) beside this program.
std::string default_library_path();
// The folder the library scans for machines: Gear/Psycle beside this program's executable.
std::string machine_folder();

// The host's factory: keeps every description announced, in order, and tells hook of each.
class session_factory final : public kestrune::host_factory {
public:
    void announce(kestrune::host_info* info) override;
    std::vector<kestrune::host_info*> announced;
    std::function<void(std::size_t count)> hook; // the count announced so far; may be empty
};

class session {
public:
    session() = default;
    ~session(); // releases the collection (every instance must be gone), then the module
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    // Loads the library and runs one collection's setup; false with error when either fails.
    // With fresh_scan, the scan probes every DLL again ("kestrune.scan" "fresh"); announced
    // hears of each description as it is announced.
    bool open(const std::string& library_path, std::string& error, bool fresh_scan = false,
              std::function<void(std::size_t count)> announced = {});

    // Hands the collection an option, as a host's own settings would (set_option); instances
    // started after it follow it.
    void set_option(const char* key, const char* value);

    const std::vector<kestrune::host_info*>& machines() const { return factory_.announced; }
    std::string signature() const;

private:
    hostkit::library library_;
    kestrune::host_collection* collection_ = nullptr;
    session_factory factory_;
};

// One instance of a description, released when this goes. The master info lives here, so it
// stays valid for as long as the instance may read it.
class instance {
public:
    instance(kestrune::host_info& info, const kestrune::host_master_info& master);
    ~instance();
    instance(const instance&) = delete;
    instance& operator=(const instance&) = delete;

    // make_instance, the master info, then start with the archive (null for a new instance).
    // false with error when the description makes no instance, or its machine didn't load.
    bool start(kestrune::host_archive* archive, std::string& error);

    kestrune::host_plugin* plugin() const { return plugin_; }
    kestrune::host_info& info() const { return info_; }
    // The timing the instance reads: a host changes the rate here between two blocks.
    kestrune::host_master_info& master() { return master_; }

private:
    kestrune::host_info& info_;
    kestrune::host_master_info master_;
    kestrune::host_plugin* plugin_ = nullptr;
};

} // namespace kestrune_host
