// The paths that the folder scan builds, as plain functions over bounded buffers. Each answers
// false, leaving an empty text, when the result (with its terminator) doesn't fit: such a path
// is passed over, and nothing is ever written past a buffer.
#pragma once

#include <cstddef>

#include "platform/files.h"

namespace kestrune {

// The folder of the machines beside the host's executable, with a closing separator:
// D:\Host\host.exe gives D:\Host\Gear\Psycle\. An executable path without any separator keeps
// its whole text before the appended part.
bool machine_folder(const char* executable_path, char* buffer, std::size_t size);

// folder, the separator, then name: a search pattern or an entry's full path.
bool join_path(const char* folder, const char* name, char* buffer, std::size_t size);

// True for the two entries that every folder lists, "." and "..", which the scan passes over.
bool is_dot_entry(const char* name);

// Whether two identities are of the same folder: the same volume and index, or, where neither
// has an index, the same final path (without regard to ASCII case where the platform's paths
// ignore it).
bool same_folder(const platform::folder_identity& a, const platform::folder_identity& b);

} // namespace kestrune
