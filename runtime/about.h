// The About box that every instance offers after the machine's own command: which machine the
// instance wraps and where it was loaded from.
#pragma once

#include <string>

#include "calls/guarded_machine.h"
#include "machine/machine_info.h"

namespace kestrune {

constexpr const char* about_caption = "Kestrune v0.01a";
constexpr const char* about_notice = "Kestrune: native Psycle machines as zzub plug-ins.";

// What a fault code means to the user: "access violation", "C++ exception", "stack overflow",
// else "exception 0x" and the code in eight uppercase hexadecimal digits.
std::string fault_cause(unsigned code);
// What a fault means to the user: its code's meaning, or for a machine in a bridge process
// "no answer in N s" and "process ended (exit code C)".
std::string fault_cause(const machine_fault& fault);

// The box's text for a description. For an instance that was meant to run its machine in a
// bridge process, process ("own" or "host", else null) follows: "\n\nProcess:\t" process.
// After a fault it ends with a line that tells why the machine went quiet:
// "\n\nFaulted:\t" call " (" cause ")". May throw std::bad_alloc; its caller catches that.
std::string about_text(const machine_info& info, const machine_fault& fault = machine_fault{},
                       const char* process = nullptr);

// Shows the About box for a description, modal, owned by the foreground window. Shows nothing
// when memory for its text is short; never throws.
void show_about_box(const machine_info& info, const machine_fault& fault = machine_fault{},
                    const char* process = nullptr) noexcept;

} // namespace kestrune
