// How "check" learns that a machine faulted: an instance whose machine raised anything goes
// quiet, and its About box ends with the line "Faulted:<tab>CALL (CAUSE)".
#pragma once

#include <string>

#include "host/host_interface.h"

namespace kestrune_host {

// "render_block (access violation)" from an About text that ends with its Faulted line;
// empty when the text has none.
std::string faulted_call(const std::string& about_text);

// The value of the About text's line "Path:<tabs>VALUE": the machine's DLL; empty without one.
std::string machine_path(const std::string& about_text);

// The instance's About box, opened unseen: its text.
std::string about_text(kestrune::host_plugin& plugin);
// The same, and of it only the Faulted line as above.
std::string fault_of(kestrune::host_plugin& plugin);

} // namespace kestrune_host
