// The probe of one candidate DLL in this process: load it, ask its "GetInfo" inside the
// platform's guard, read what it answers into a record of our own, and free it again. The
// scanner process makes the same probe for the host.
#pragma once

#include "host/description_record.h"
#include "host/scan_cache.h"

namespace kestrune {

// Probes the DLL at path; with probe_outcome::description, record holds its description. The
// floating-point settings that the DLL's load code left are in force while its "GetInfo" runs,
// as at an instance's start. A DLL that faulted stays loaded for good: its detach code would run
// in whatever state the fault left. Never hung or ended_scanner: those are learnt from outside.
probe_outcome probe_in_process(const char* path, description_record& record) noexcept;

} // namespace kestrune
