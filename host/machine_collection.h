// The collection that the host gets from zzub_get_plugincollection: it finds the machine DLLs
// in Gear/Psycle beside the host's executable, announces a description of each one, and owns
// those descriptions until the host releases it.
#pragma once

#include <memory>

#include "host/description_record.h"
#include "host/host_interface.h"
#include "host/nothrow_list.h"
#include "host/scan_cache.h"
#include "host/scan_store.h"
#include "host/scanner.h"
#include "machine/machine_info.h"
#include "platform/files.h"

namespace kestrune {

// The option that asks the next scans to probe every DLL again, the cache's memory of each
// ignored (and then renewed): set_option(scan_option, "fresh"); "cached" undoes it.
constexpr const char* scan_option = "kestrune.scan";

// Every slot is noexcept, and so is all it calls: the host is another compiler's program, and
// nothing may unwind into it.
class machine_collection final : public host_collection {
public:
    // A collection whose descriptions make their instances with make_plugin (null: none).
    explicit machine_collection(instance_maker make_plugin) noexcept : make_plugin_(make_plugin) {}
    machine_collection(const machine_collection&) = delete;
    machine_collection& operator=(const machine_collection&) = delete;

    // Called by the host once it can take announcements. Stores factory (also when null) and,
    // with a factory, scans Gear/Psycle beside the executable: every machine found is described,
    // kept and announced, synchronously. A second setup scans again and appends.
    void setup(host_factory* factory) noexcept override;
    // Descriptions are known to the host only through announce: always null.
    host_info* info_for_uri(const char* uri, host_archive* archive) noexcept override;
    const char* collection_uri() noexcept override;
    // Two options: "kestrune.isolate" with "always", "after-fault" or "never" (isolation.h), for
    // the instances started from then on; scan_option. Every other key or value changes nothing.
    void set_option(const char* key, const char* value) noexcept override;
    // Destroys every description, then the collection. Every instance made from one of the
    // descriptions must have been released before.
    void release() noexcept override;
    ~machine_collection() override = default; // with the descriptions still kept

    // Scans one folder: its subfolders first, depth first, then its own "*.dll" files. path is
    // writable; a closing separator is cut off in place. Paths that don't fit are passed over.
    // Linked folders (symbolic links, junctions) are followed like any other, but no folder is
    // searched twice in one scan, however many paths lead to it: links back up the tree end.
    // The scan's memory (scan_store.h) is read before and written after.
    void scan_folder(char* path) noexcept;
    // One candidate DLL: described from the cache when its file is unchanged since a probe
    // found a machine in it, passed over when one found none or a bad one, else probed: loaded,
    // described, kept and announced when its "GetInfo" answers a description. A probe in this
    // process unloads the DLL again, unless it faulted while it was described: then it stays
    // loaded, and nothing of its description is kept. What the probe gave is remembered. A DLL
    // that hung a scanner is tried again only in a scanner.
    void probe_machine(const char* path) noexcept;

    host_factory* factory = nullptr;
    nothrow_list<std::unique_ptr<machine_info>> infos;        // in order of registration
    isolation_setting isolation{isolation_mode::after_fault}; // what every description points to
    bool fresh = false;                                       // scan_option "fresh"
    scan_cache cache; // what the last scans found; read and written by each scan
    // Where DLLs are probed: in a scanner process when one can be started and KESTRUNE_SCAN
    // isn't "in-process", else in this process.
    kestrune::scanner scanner;

private:
    void search_folder(char* path) noexcept;
    // Whether the folder at path is one to search now: true once per folder in a scan. A
    // folder whose identity can't be read or remembered is searched only when it isn't a
    // link, as loops come only through links.
    bool first_visit(const char* path, bool is_link) noexcept;
    // Builds, keeps and announces the description of the DLL at path from record.
    void announce_record(const description_record& record, const char* path) noexcept;
    // Writes the cache when it changed and the last write is a second old (final: whatever the
    // time), so that a scan that ends the process keeps most of what it learnt.
    void save_cache(bool final) noexcept;
    instance_maker make_plugin_;
    scan_store store_;
    bool cache_changed_ = false;
    bool in_process_ = false; // KESTRUNE_SCAN=in-process: this scan probes without a scanner
    unsigned long long saved_at_ = 0;                 // monotonic_microseconds of the last write
    nothrow_list<platform::folder_identity> visited_; // the folders searched in this scan
};

} // namespace kestrune
