// A machine's description as the host sees it: a host_info built from the machine's own
// machine_description, while the machine's DLL is loaded for its probe. Everything it points to
// is its own copy, so the DLL can be unloaded right after.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "host/host_interface.h"
#include "machine/isolation.h"
#include "machine/machine_interface.h"

namespace kestrune {

// The host-visible copies of one machine parameter's names: at most 31 characters each and a
// NUL. A host parameter's title and caption point into one of these.
struct param_name_record {
    char title[32];
    char caption[32];
};

// The prefix of every identity URI, "@" + namespace + "/quillon/". Stored songs refer to
// machines by these URIs: never change it.
extern const char identity_uri_prefix[];

class machine_info;

// Makes a new host instance for a description, owned by the host; null when it can't. The
// runtime has the one way of doing it; whoever builds descriptions for the host passes it in,
// so that this layer needn't know the runtime.
using instance_maker = host_plugin* (*)(const machine_info& info) noexcept;

class machine_info final : public host_info {
public:
    machine_info();
    machine_info(const machine_info&) = delete;
    machine_info& operator=(const machine_info&) = delete;

    // A new instance bound to this description, made by make_plugin and owned by the host;
    // null when memory is short or there is no make_plugin. noexcept: the host calls it. The
    // machine itself is loaded only when the instance starts.
    host_plugin* make_instance() noexcept override;
    // Descriptions aren't stored in songs: always false, and the archive isn't touched.
    bool store_description(host_archive* archive) noexcept override;
    // Frees the texts, the name records, every host_parameter in the lists and the lists.
    ~machine_info() override;

    // Gives the lists room for n global and m track parameters, all null until set with
    // set_global_param and set_track_param; the parameters set from then on are this
    // description's own. Any earlier lists are freed with their parameters. Answers false, and
    // leaves the lists empty, when memory is short.
    bool make_lists(std::size_t n, std::size_t m) noexcept;

    instance_maker make_plugin = nullptr; // what make_instance calls
    // Where its instances run their machines: the setting of the collection that owns this
    // description (which outlives every instance). Null for a description made outside a
    // collection (tests, tools): its instances run in process, as isolation_mode::never.
    const isolation_setting* isolation = nullptr;
    std::string full_name_text;
    std::string short_label_text;
    std::string library_path; // the DLL's full path, as the scan built it
    std::string author_text;
    std::string identity_uri_text;
    std::string command_list_text;
    // Exactly one record per machine parameter, allocated once before any host parameter
    // points into it, so the pointers stay valid for the life of the description.
    std::unique_ptr<param_name_record[]> name_records;
    int name_record_count = 0;
    // P, the one array that the three lists point into (host_interface.h); null when empty.
    std::unique_ptr<host_parameter*[]> list_storage;

private:
    void free_lists() noexcept;
};

// Converts a machine's description into a new, complete machine_info for the DLL at path (a
// non-empty text), whose instances make_plugin makes (null: it makes none); the caller owns it.
// Answers null, having freed everything, when memory runs out, for example for a param_count too
// large to allocate. Null texts count as empty texts; a null entry in params still gives its global
// parameter (a switch 0..0 without names).
machine_info* build_machine_info(const machine_description& description, const char* path,
                                 instance_maker make_plugin) noexcept;

// The same into info, fresh from its constructor and owned by the caller; false when memory runs
// out (info is then partly filled). Made for a description that may fault while it is read,
// inside the caller's guard, which then leaves this function at any point without unwinding:
// it owns nothing itself, and every field, text and parameter of the description is read into
// locals before any of info's texts and lists changes, so that a fault never interrupts a change.
// Whatever info holds then, destroying it frees it all.
bool fill_machine_info(machine_info& info, const machine_description& description, const char* path,
                       instance_maker make_plugin) noexcept;

// Replaces every character from with to in a NUL-terminated text; nothing when text is null or
// from equals to.
void replace_char(char* text, char from, char to);

} // namespace kestrune
