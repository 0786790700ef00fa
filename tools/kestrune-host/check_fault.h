// How "check" learns that a machine faulted: an instance whose machine raised anything goes
// quiet, and its About box ends with the line "Faulted:<tab>CALL (CAUSE)".
#pragma once

#include <string>

#include "host/host_interface.h"

namespace kestrune_host {

// "render_block (access violation)" from an About text that ends with its Faulted line;
// empty when the text has none.
std::string faulted_call(const std::string& about_text);

// Opens the instance's About box, unseen, and answers its Faulted line as above.
std::string fault_of(kestrune::host_plugin& plugin);

} // namespace kestrune_host
