// The About box that every instance offers after the machine's own command: which machine the
// instance wraps and where it was loaded from.
#pragma once

#include <string>

#include "machine/machine_info.h"

namespace kestrune {

constexpr const char* about_caption = "Kestrune v0.01a";
constexpr const char* about_notice = "Kestrune: native Psycle machines as zzub plug-ins.";

// The box's text for a description. May throw std::bad_alloc; its caller catches that.
std::string about_text(const machine_info& info);

// Shows the About box for a description, modal, owned by the foreground window. Shows nothing
// when memory for its text is short; never throws.
void show_about_box(const machine_info& info) noexcept;

} // namespace kestrune
