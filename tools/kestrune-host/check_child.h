// What a child process of check answers: one machine's report, as its --json wrote it. It
// comes from another process, one that a machine may have damaged, so it is read as untrusted:
// every field checked, every text and list bounded.
#pragma once

#include <optional>
#include <string>

#include "check_result.h"

namespace kestrune_host {

// The most of a child's output that is read, and of each text and list in it.
constexpr std::size_t child_output_limit = 1 << 20;
constexpr std::size_t child_text_limit = 1024;
constexpr std::size_t child_rows_limit = 64;
constexpr std::size_t child_figures_limit = 16;

// The one machine of a check's JSON output; nothing when the text isn't such a report.
std::optional<machine_check> machine_from_child(const std::string& output);

// How long one machine's checks may take in all, in seconds: more at higher levels.
double machine_deadline_seconds(int level);

// The checks that can only run in the same process as the machine: isolated, they are rows
// that say "skip: isolated".
bool in_process_only(const std::string& check_name);

} // namespace kestrune_host
