// A machine instance's state, kept in a file between two runs of the host program.
//
// The file holds what the instance wrote into its archive stream, behind a short header that
// names the machine it belongs to:
//   "kestrune-state 1\n"
//   "machine <identity uri>\n"
//   "bytes <N>\n"
//   N bytes: the stream exactly as the instance wrote it
// The stream itself is Kestrune's state blob: nothing (a machine without data), or a version
// of 1, a size, and that many bytes of the machine's data, the integers little-endian.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrune_host {

using bytes = std::vector<unsigned char>;

struct stored_state {
    std::string machine_uri;
    bytes stream;
};

// The file's content for a state.
bytes encode_state(const stored_state& state);
// The state in a file's content, or nothing with error saying what is wrong with it.
std::optional<stored_state> decode_state(const bytes& content, std::string& error);

// A whole file, or nothing with error naming the file and the reason.
std::optional<bytes> read_file(const std::string& path, std::string& error);
// Whether a file could be written at path now (its folder exists and takes files, and the
// file, if it is there, may be replaced); false with error naming the file and the reason.
// Nothing is created.
bool can_write(const std::string& path, std::string& error);
// Writes a whole file; false with error naming the file and the reason.
bool write_file(const std::string& path, const bytes& content, std::string& error);

} // namespace kestrune_host
