#include "runtime/machine_plugin.h"

#include <atomic>
#include <new>

#include "platform/module.h"
#include "runtime/faulted_libraries.h"

namespace kestrune {

namespace {

// Keeps this module loaded for the rest of the process once a machine has been abandoned: the
// machine's detached callback, whose code lives here, may be called long after the host freed
// us. Once only; never on the audio path.
void pin_this_module() {
    static std::atomic<bool> pinned{false};
    if (!pinned.exchange(true)) {
        platform::pin_module(&pinned);
    }
}

template <class Function>
Function export_of(platform::module_handle library, const char* name) {
    return reinterpret_cast<Function>(platform::find_export(library, name));
}

} // namespace

// --- Construction and destruction -----------------------------------------------------------

machine_plugin::machine_plugin(const machine_info& owner) noexcept
    : info(&owner), layout(owner.global_params()) {
    std::size_t params = owner.track_params().size();
    if (params > 0 && params < 0x10000) {
        int records = static_cast<int>(params) * track_records_per_param;
        track_area.reset(new (
            std::nothrow) unsigned char[static_cast<std::size_t>(records) * track_record_size]);
        if (track_area != nullptr) {
            track_record_count = records;
        }
    }
    std::size_t globals = owner.global_params().size();
    if (globals > 0 && globals <= 0x7fffffff) {
        machine_ranges.reset(new (std::nothrow) parameter_range[globals]);
    }
    global_values = layout.values.get();
    track_values = track_area.get();
    attribute_values = nullptr;
}

machine_plugin* machine_plugin::create(const machine_info& owner) noexcept {
    auto* instance = new (std::nothrow) machine_plugin(owner);
    if (instance == nullptr) {
        return nullptr;
    }
    // Without its value areas the host would write its values through a null pointer; without
    // the ranges no global value could reach the machine.
    if ((!owner.global_params().empty() &&
         (instance->layout.values == nullptr || instance->machine_ranges == nullptr)) ||
        (!owner.track_params().empty() && instance->track_area == nullptr)) {
        delete instance;
        return nullptr;
    }
    return instance;
}

machine_plugin::~machine_plugin() = default;

host_plugin* make_machine_plugin(const machine_info& info) noexcept {
    return machine_plugin::create(info);
}

// --- Lifecycle ------------------------------------------------------------------------------

bool machine_plugin::load_machine() {
    if (info == nullptr) {
        return false;
    }
    bool isolate = wants_isolation(); // before the last machine's fault is forgotten
    bool for_fault = machine.faulted() || library_faulted(info->library_path.c_str());
    unload_machine();
    machine.forget_fault(); // a fresh machine, whatever became of the last one
    fault_noted = false;
    meant_isolated = isolate;
    in_bridge = false;
    bool started = false;
    if (isolate && load_isolated(started, for_fault)) {
        return started;
    }
    library = platform::load_library(info->library_path.c_str(), &machine.fp);
    if (library == nullptr) {
        return false;
    }
    auto get_info = export_of<get_info_function>(library, get_info_export);
    bool described = false;
    int copied = 0;
    auto read = [&](const machine_description* description) {
        described = description != nullptr;
        if (described) {
            // One entry per global parameter: create refuses an instance without them.
            copied = copy_ranges(*description, machine_ranges.get(),
                                 static_cast<int>(info->global_params().size()));
        }
    };
    if (get_info == nullptr || !machine.get_info(get_info, read) || !described) {
        unload_machine(); // keeps the DLL when GetInfo faulted
        return false;
    }
    machine_range_count = copied;
    auto create_machine = export_of<create_machine_function>(library, create_machine_export);
    callback = new (std::nothrow) machine_callback(*this);
    if (create_machine == nullptr || callback == nullptr ||
        !machine.create(create_machine, callback) || machine.target == nullptr) {
        // No machine ever held the callback object (a fault in CreateMachine came before the
        // write, or was the write), so it goes now, even when the DLL is abandoned.
        delete callback;
        callback = nullptr;
        unload_machine();
        return false;
    }
    return machine.start_up();
}

bool machine_plugin::wants_isolation() const noexcept {
    isolation_mode mode = info->isolation != nullptr
                              ? info->isolation->load(std::memory_order_relaxed)
                              : isolation_mode::never;
    switch (mode) {
    case isolation_mode::always:
        return true;
    case isolation_mode::never:
        return false;
    default:
        return machine.faulted() || library_faulted(info->library_path.c_str());
    }
}

bool machine_plugin::load_isolated(bool& started, bool for_fault) noexcept {
    started = false;
    if (bridge == nullptr) {
        bridge.reset(new (std::nothrow) bridge_client(*this));
        if (bridge == nullptr) {
            return false;
        }
    }
    int copied = 0;
    bridge_client::start_result result =
        bridge->start(info->library_path.c_str(), machine_ranges.get(),
                      static_cast<int>(info->global_params().size()), copied);
    // A bridge whose machine can't be had there (a DLL it needs isn't found from that process)
    // leaves the machine to the host's process, unless it runs isolated because it faulted.
    if (result == bridge_client::start_result::cant_start ||
        (result == bridge_client::start_result::no_machine && !for_fault)) {
        return false;
    }
    in_bridge = true;
    if (result == bridge_client::start_result::faulted) {
        machine.fault = bridge->fault();
    } else if (result == bridge_client::start_result::running) {
        machine_range_count = copied;
        machine.bridge = bridge.get();
        started = machine.start_up();
    }
    return true;
}

const char* machine_plugin::process_text() const noexcept {
    if (!meant_isolated) {
        return nullptr;
    }
    return in_bridge ? "own" : "host";
}

void machine_plugin::forget_description() {
    machine_range_count = 0;
}

void machine_plugin::unload_machine() {
    forget_description();
    if (in_bridge) {
        // Its process holds the machine, its DLL and its callback; a healthy machine is
        // destroyed there, and the process ends either way (after a fault it ended already).
        machine.bridge = nullptr;
        if (bridge != nullptr) {
            bridge->destroy();
        }
        return;
    }
    if (machine.faulted()) {
        // Abandoned: neither destroyed nor unloaded. The reference is dropped, never freed,
        // so the DLL stays loaded for the rest of the process. The fault stays on record for
        // the About box until the next load. Its callback is detached and kept too, since the
        // machine may still call it, and so is this module, where its code lives.
        machine.target = nullptr;
        library = nullptr;
        if (callback != nullptr) {
            callback->detach();
            callback = nullptr;
        }
        pin_this_module();
        return;
    }
    machine.destroy(export_of<delete_machine_function>(library, delete_machine_export));
    delete callback; // the machine that could call it is gone
    callback = nullptr;
    if (library != nullptr) {
        platform::free_library(library);
        library = nullptr;
    }
}

// --- Re-entry -------------------------------------------------------------------------------

bool machine_plugin::enter() noexcept {
    if (calls_in_progress != 0) {
        return false;
    }
    ++calls_in_progress;
    return true;
}

bool machine_plugin::leave() noexcept {
    if (machine.faulted() && !fault_noted) {
        fault_noted = true; // once per fault: later instances of this DLL know it
        remember_faulted_library(info->library_path.c_str());
    }
    if (--calls_in_progress != 0 || !release_pending) {
        return true;
    }
    finish_release();
    return false;
}

void machine_plugin::finish_release() noexcept {
    ++calls_in_progress; // whatever the host calls while the machine is destroyed reaches nothing
    unload_machine();
    delete this;
}

void machine_plugin::release() noexcept {
    if (calls_in_progress != 0) {
        release_pending = true; // the call in progress completes it
        machine.closing = true; // and makes no further call into the machine meanwhile
        return;
    }
    finish_release();
}

void machine_plugin::start(host_archive* archive) noexcept {
    if (!enter()) {
        return;
    }
    bool after_fault = machine.faulted(); // before the load forgets it
    if (load_machine()) {
        restore_state(archive, machine, kept_state, after_fault);
    } else if (!after_fault) {
        kept_state.release(); // after a fault it waits for a store, or the next start
    }
    leave();
}

void machine_plugin::store_state(host_archive* archive) noexcept {
    if (archive != nullptr && enter()) {
        save_state(*archive, machine, kept_state);
        leave();
    }
}

} // namespace kestrune
