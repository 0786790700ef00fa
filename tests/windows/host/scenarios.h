// What the MSVC-mode test host can be asked to do; each answers 0 when it could run to its end
// (the checks that failed are counted by report).
#pragma once

// A logging machine through its whole life; has_delete tells whether it exports DeleteMachine.
int drive_machine(const char* machine_name, bool has_delete);
// A machine whose destructor faults: release completes, the DLL is gone, the host goes on.
int fault_guard(const char* machine_name);
// A machine that faults in call ("render_block" or "describe"): the host's calls answer as
// without a machine, the DLL stays loaded, the host goes on.
int machine_fault(const char* machine_name, const char* call);
// The logging machine driven with the host's stack at each 4-byte offset modulo 16.
int misaligned_calls(const char* machine_name);
