// The bridge process's side of an isolated instance (kestrune-bridge): it maps the block its
// host handed it, loads the one machine DLL, and makes each call that the host requests inside
// the same guard as in process (guarded_machine.h), until the host closes the channel; it ends
// itself at once when its host dies. The machine's callback answers the tempo queries from the
// values carried with the call, and carries a message box across to the host.
#pragma once

#include <cstddef>

#include "platform/process.h"

namespace kestrune {

// Serves the machine at path through the block (of block_size bytes) and the channel that the
// host handed this process, named by handles (platform::read_bridge_handles). The machine's DLLs
// are searched for in host_folder (the host's executable folder) as in the host's process.
// Answers the process's exit code: 0 when the host closed the channel, 2 when handles isn't
// such a text, they can't be kept from the machine's children, or the block can't be mapped.
int serve_bridge(const char* path, std::size_t block_size, const char* host_folder,
                 const char* handles) noexcept;

} // namespace kestrune
