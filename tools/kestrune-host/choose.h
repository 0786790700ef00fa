// Finding what the user named among what the library announced: a machine by name, label,
// identity URI or list position, and a global parameter by index or title.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/host_interface.h"

namespace kestrune_host {

// The machine that text names, tried in this order: "#N" for the N-th announced (from 0);
// an exact full name, label or identity URI; the same ignoring case; a part of a full name
// or label, ignoring case, that only one machine has. Nothing, with error, when no machine or
// more than one fits.
std::optional<std::size_t> choose_machine(const std::vector<kestrune::host_info*>& machines,
                                          const std::string& text, std::string& error);

// The global parameter that text names: a decimal index, or a title ignoring case (the first
// of equal titles). Nothing, with error, when there is none.
std::optional<int> choose_parameter(const kestrune::host_info& info, const std::string& text,
                                    std::string& error);

// A whole decimal (or 0x hexadecimal) integer, optionally signed; nothing when text is not
// exactly one.
std::optional<long long> parse_integer(const std::string& text);

// A setting "PARAM=VALUE" split at its first '='; false when it has none or an empty side.
bool split_setting(const std::string& text, std::string& param, std::string& value);

} // namespace kestrune_host
