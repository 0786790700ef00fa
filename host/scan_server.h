// The scanner's side (kestrune-bridge --scan): it maps the block its host handed it and probes
// each DLL the host names, in its own process, until the host closes the channel; it ends itself
// at once when its host dies. A DLL that hangs, ends or breaks this process costs the host
// nothing but a new scanner.
#pragma once

#include <cstddef>

#include "platform/process.h"

namespace kestrune {

// Serves the host through the block (of block_size bytes) and channel named by handles
// (platform::read_bridge_handles), looking for the DLLs' own DLLs in host_folder as the host's
// process would. Answers the process's exit code: 0 when the host closed the channel, 2 when
// handles isn't such a text, they can't be kept from the DLLs' children, or the block can't be
// mapped.
int serve_scan(std::size_t block_size, const char* host_folder, const char* handles) noexcept;

} // namespace kestrune
