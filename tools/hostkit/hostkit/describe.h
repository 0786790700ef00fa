// A description as text, one field group a line, the way the scan tests and the host program
// print what they were announced:
//   info kind=1 version=15 flags=1 tracks=8..32 name=<full name> label=<..> author=<..>
//        uri=<identity uri> commands=<command list>          (all on one line)
//   global 0 kind=2 range=0..127 empty=255 flags=0 default=64 title=<..> caption=<..>
//   track 0 ...
// Texts are written with backslash escapes for backslash, line feed, carriage return and tab,
// so that every record stays on its line; a null text is written as "(null)".
#pragma once

#include <string>

#include "host/host_interface.h"

namespace hostkit {

std::string escape_text(const char* text);
std::string describe_parameter(const char* role, int index, const kestrune::host_parameter& p);
// The info line, then one line per global and per track parameter; each line ends in '\n'.
std::string describe_info(const kestrune::host_info& info);

} // namespace hostkit
