// What "check" finds out about machines: a verdict and a short reason per named check, a
// verdict per machine, and the exit code of the whole run.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrune_host {

// In order of severity: a machine's verdict is its worst check's. A check that couldn't run
// (its machine didn't start, or faulted before it) is skipped.
enum class verdict { pass, skip, warn, fail };
const char* verdict_name(verdict v); // "pass", "skip", "warn", "fail"

struct check_row {
    using figure_list = std::vector<std::pair<std::string, double>>;
    check_row() = default;
    check_row(std::string row_name, verdict row_result, std::string row_reason,
              figure_list row_figures = {})
        : name(std::move(row_name)), result(row_result), reason(std::move(row_reason)),
          figures(std::move(row_figures)) {}

    std::string name; // "render 44100 Hz", "state", ...
    verdict result = verdict::pass;
    std::string reason; // a few words, also when it passes
    // What the check measured, by name ("ratio", "nan", "ms cold"), for scripts.
    figure_list figures;
};

struct machine_check {
    std::string name; // the full name, or what the command line asked for
    std::string uri;  // empty when it wasn't announced
    std::string file; // the machine's DLL, as its About box says; empty when unknown
    std::vector<check_row> rows;
    std::string fault;             // "render_block (access violation)", empty without a fault
    double realtime_factor = -1.0; // CPU time per second of audio; negative when not measured
    int level = 0;                 // the strictness the checks ran at
    std::uint64_t seed = 0;        // of every random value the checks drew
};

verdict machine_verdict(const machine_check& machine); // the worst of its rows; pass for none

// 0 when no machine failed (warnings allowed), 1 when one did or there was none to check.
int check_exit_code(const std::vector<machine_check>& machines);

} // namespace kestrune_host
