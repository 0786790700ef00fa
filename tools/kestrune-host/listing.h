// What "list" prints of an announced description: a text for a person, JSON for scripts.
// Both show every field the host is given: kind, names, author, identity URI, track counts,
// the command list, and a table of the global and the track parameters.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/host_interface.h"

namespace kestrune_host {

std::string machine_kind_name(int kind);   // "generator", "effect", else "kind N"
std::string parameter_kind_name(int kind); // "note", "switch", "byte", "word", else "kind N"

// The entries of a command list, split at each line feed; none for a null list.
std::vector<std::string> command_entries(const char* command_list);

// One machine as indented text, headed by its list position "#index".
std::string machine_text(const kestrune::host_info& info, std::size_t index);

// One machine as a JSON object, its fields in the order the text shows them.
nlohmann::ordered_json machine_json(const kestrune::host_info& info, std::size_t index);

// JSON as text, never failing: bytes that are not UTF-8 (names in a Windows code page) come
// out as U+FFFD.
std::string json_text(const nlohmann::ordered_json& value);

} // namespace kestrune_host
