// A machine whose destructor faults, under an MSVC-built host: the library's guard must swallow
// the fault, free the machine's DLL and hand control back, twice in a row.
#include "tests/windows/host/report.h"
#include "tests/windows/host/scenarios.h"
#include "tests/windows/host/session.h"

// The machine's destructor counts itself here before it faults (found with GetProcAddress on
// the host's own module).
extern "C" __declspec(dllexport) volatile int fault_witness = 0;

int fault_guard(const char* machine_name) {
    session::library_session run;
    if (!session::open(run)) {
        return 1;
    }
    host_view::info* info = run.factory.infos[0];
    report::check_text(info->full_name, "Kestrune Fault Machine", "the fault machine is announced");

    for (int round = 1; round <= 2; ++round) {
        host_view::plugin* plugin = info->make_instance();
        report::check(plugin != nullptr, "make_instance");
        if (plugin == nullptr) {
            break;
        }
        plugin->master = &session::master;
        plugin->start(nullptr);
        report::check(session::is_loaded(machine_name), "start loads the machine");
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
