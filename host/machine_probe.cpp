#include "host/machine_probe.h"

#include "platform/guard.h"
#include "platform/module.h"

namespace kestrune {

namespace {

// What the guarded part of a probe works on. The record is the caller's, outside the guarded
// frame, so that a fault, which leaves the frame without unwinding it, loses nothing.
struct probe_call {
    get_info_function get_info;
    description_record* record;
    bool described;
    bool complete;
};

void describe(void* context) {
    auto& call = *static_cast<probe_call*>(context);
    const machine_description* description = call.get_info();
    call.described = description != nullptr;
    call.complete = call.described && capture_description(*description, *call.record);
}

} // namespace

probe_outcome probe_in_process(const char* path, description_record& record) noexcept {
    if (path == nullptr || path[0] == '\0') {
        return probe_outcome::not_machine;
    }
    platform::fp_settings own = platform::current_fp_settings();
    platform::module_handle library = platform::load_library(path, &own);
    if (library == nullptr) {
        return probe_outcome::not_machine;
    }
    auto get_info =
        reinterpret_cast<get_info_function>(platform::find_export(library, get_info_export));
    if (get_info == nullptr) {
        platform::free_library(library);
        return probe_outcome::not_machine;
    }
    probe_call call{get_info, &record, false, false};
    if (!platform::guarded_call(describe, &call, nullptr, &own)) {
        return probe_outcome::faulted; // its DLL stays loaded
    }
    platform::free_library(library);
    return call.complete ? probe_outcome::description : probe_outcome::not_machine;
}

} // namespace kestrune
