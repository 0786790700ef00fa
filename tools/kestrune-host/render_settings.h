// The global parameter values that a render writes on its first tick: "--set PARAM=VALUE" gives
// a host value, "--value PARAM=VALUE" the machine's own value or text.
#pragma once

#include <optional>
#include <string>

#include "host/host_interface.h"

namespace kestrune_host {

struct setting {
    int index = 0; // of the global parameter
    int host_value = 0;
};

// "--set PARAM=VALUE": a whole number within the parameter's host range. Nothing, with error,
// otherwise. Needs no instance, so it is checked before anything runs.
std::optional<setting> host_setting(const kestrune::host_info& info, const std::string& text,
                                    std::string& error);

// "--value PARAM=VALUE": the host value whose text (asked of plugin) is VALUE, or the nearest by
// number, said in a warning unless quiet. Nothing, with error, when no text fits.
std::optional<setting> machine_setting(kestrune::host_plugin& plugin,
                                       const kestrune::host_info& info, const std::string& text,
                                       bool quiet, std::string& error);

} // namespace kestrune_host
