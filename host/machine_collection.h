// The collection that the host gets from zzub_get_plugincollection: it finds the machine DLLs
// in Gear/Psycle beside the host's executable, announces a description of each one, and owns
// those descriptions until the host releases it.
#pragma once

#include <memory>

#include "host/host_interface.h"
#include "host/nothrow_list.h"
#include "machine/machine_info.h"
#include "platform/platform.h"

namespace kestrune {

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
    // One option: "kestrune.isolate" with "always", "after-fault" or "never" (isolation.h), for
    // the instances started from then on. Every other key or value changes nothing.
    void set_option(const char* key, const char* value) noexcept override;
    // Destroys every description, then the collection. Every instance made from one of the
    // descriptions must have been released before.
    void release() noexcept override;
    ~machine_collection() override = default; // with the descriptions still kept

    // Scans one folder: its subfolders first, depth first, then its own "*.dll" files. path is
    // writable; a closing separator is cut off in place. Paths that don't fit are passed over.
    // Linked folders (symbolic links, junctions) are followed like any other, but no folder is
    // searched twice in one scan, however many paths lead to it: links back up the tree end.
    void scan_folder(char* path) noexcept;
    // Loads one candidate DLL, describes, keeps and announces it when its "GetInfo" answers a
    // description, and unloads it again, unless it faulted while it was described: then it
    // stays loaded, and nothing of its description is kept.
    void probe_machine(const char* path) noexcept;

    host_factory* factory = nullptr;
    nothrow_list<std::unique_ptr<machine_info>> infos;        // in order of registration
    isolation_setting isolation{isolation_mode::after_fault}; // what every description points to

private:
    void search_folder(char* path) noexcept;
    // Whether the folder at path is one to search now: true once per folder in a scan. A
    // folder whose identity can't be read or remembered is searched only when it isn't a
    // link, as loops come only through links.
    bool first_visit(const char* path, bool is_link) noexcept;
    instance_maker make_plugin_;
    nothrow_list<platform::folder_identity> visited_; // the folders searched in this scan
};

} // namespace kestrune
