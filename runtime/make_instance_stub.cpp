// Placeholder until the runtime lands: instances can't be made yet.
#include "machine/machine_info.h"

namespace kestrune {
host_plugin* machine_info::make_instance() { return nullptr; }
} // namespace kestrune
