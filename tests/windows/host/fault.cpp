// A machine whose destructor faults, under an MSVC-built host: the library's guard must swallow
// the fault, free the machine's DLL and hand control back, twice in a row.
#include "tests/windows/host/report.h"
#include "tests/windows/host/scenarios.h"
#include "tests/windows/host/session.h"

// The machine's destructor counts itself here before it faults (found with GetProcAddress on
// the host's own module).
extern "C" __declspec(dllexport) volatile int fault_witness = 0;

namespace {

// A new instance of info, started with the host's master info; null when make_instance fails.
// Reports both, and whether the start loaded the machine.
host_view::plugin* started_instance(host_view::info* info, const char* machine_name) {
    host_view::plugin* plugin = info->make_instance();
    report::check(plugin != nullptr, "make_instance");
    if (plugin == nullptr) {
        return nullptr;
    }
    plugin->master = &session::master;
    plugin->start(nullptr);
    report::check(session::is_loaded(machine_name), "start loads the machine");
    return plugin;
}

} // namespace

int fault_guard(const char* machine_name) {
    session::library_session run;
    if (!session::open(run)) {
        return 1;
    }
    host_view::info* info = run.factory.infos[0];
    report::check_text(info->full_name, "Kestrune Fault Machine", "the fault machine is announced");

    for (int round = 1; round <= 2; ++round) {
        host_view::plugin* plugin = started_instance(info, machine_name);
        if (plugin == nullptr) {
            break;
        }
        plugin->global_values[0] = 200;
        plugin->take_events();

        plugin->release(); // the destructor faults in here
        report::check_number(fault_witness, round, "release reached the faulting destructor");
        report::check(!session::is_loaded(machine_name),
                      "after the fault the machine's DLL is no longer loaded");
    }
    session::close(run);
    report::check(true, "the host goes on after the faults");
    return 0;
}

// A machine that faults in one call (render_block or describe, with an access violation or an
// MSVC C++ throw) under an MSVC-built host, through kestrune.dll: the host's calls answer as
// without a machine, the host goes on, and the faulted machine's DLL and kestrune.dll stay loaded.
int machine_fault(const char* machine_name, const char* call) {
    session::library_session run;
    if (!session::open(run)) {
        return 1;
    }
    host_view::info* info = run.factory.infos[0];
    report::check(info->kind == 1 && info->global_params.size() >= 1,
                  "a generator with global parameters is announced");
    const bool in_describe = report::same_text(call, "describe");
    for (int round = 1; round <= 2; ++round) {
        host_view::plugin* plugin = started_instance(info, machine_name);
        if (plugin == nullptr) {
            break;
        }
        report::check_text(plugin->value_text(1, 0), in_describe ? "" : "-100",
                           in_describe ? "value_text: the empty text after describe faults"
                                       : "value_text: the machine's value");
        float left[8], right[8];
        for (int k = 0; k < 8; ++k) {
            left[k] = right[k] = 0.5f;
        }
        float* buffers[2] = {left, right};
        const bool sound = plugin->render(buffers, buffers, 8, 2);
        bool silent = true, untouched = true;
        for (int k = 0; k < 8; ++k) {
            silent = silent && left[k] == 0.0f && right[k] == 0.0f;
            untouched = untouched && left[k] == 0.5f && right[k] == 0.5f;
        }
        report::check(!sound && (in_describe ? untouched : silent),
                      in_describe ? "render after the fault: false, the buffers untouched"
                                  : "render_block faults: false, and both outputs silent");
        report::check(!plugin->is_muted(0), "is_muted: false");
        plugin->run_command(0);
        plugin->run_command(1); // the About box, with the fault (Wine answers it at once)
        plugin->release();
        report::check(session::is_loaded(machine_name), "the faulted machine's DLL stays loaded");
    }
    session::close(run, true);
    report::check(true, "the host goes on after the faults");
    return 0;
}
