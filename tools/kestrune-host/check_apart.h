// One machine's checks in a child process of this program, so that a machine that ends or
// hangs its process costs only its own report.
#pragma once

#include <cstddef>
#include <cstdint>

#include "check_result.h"
#include "commands.h"

namespace kestrune_host {

// Runs "check #index --in-process --json" in a child with the machine's deadline. When the
// child ends without a report (the machine ended or hung it), the machine is checked again
// isolated, where the bridge is present and it wasn't already, and its "own process" row says
// what happened; without a second report, that row is its report.
machine_check check_apart(const check_options& options, std::size_t index,
                          const kestrune::host_info& info, std::uint64_t seed);

} // namespace kestrune_host
