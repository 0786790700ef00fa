#include "check_apart.h"

#include <cstdio>
#include <filesystem>

#include "check_child.h"
#include "child_process.h"
#include "hostkit/host_platform.h"

namespace kestrune_host {

namespace {

std::vector<std::string> child_arguments(const check_options& options, std::size_t index,
                                         std::uint64_t seed, bool isolated) {
    std::vector<std::string> arguments = {"--library",
                                          options.library,
                                          "check",
                                          "#" + std::to_string(index),
                                          "--in-process",
                                          "--json",
                                          "--no-progress",
                                          "--level",
                                          std::to_string(options.level),
                                          "--seed",
                                          std::to_string(seed)};
    if (isolated) {
        arguments.push_back("--isolated");
    }
    return arguments;
}

// The report of a child that answered one; nothing for one that ended or hung without.
std::optional<machine_check> report_of(const child_result& ran) {
    bool answered = ran.started && ran.exited && (ran.exit_code == 0 || ran.exit_code == 1);
    return answered ? machine_from_child(ran.output) : std::nullopt;
}

std::string what_ended(const child_result& ran, double deadline) {
    char text[96];
    if (!ran.started) {
        return "the check's process couldn't be started";
    }
    if (ran.timed_out) {
        std::snprintf(text, sizeof text, "its checks' process didn't end within %.0f s", deadline);
    } else if (!ran.exited) {
#if defined(_WIN32)
        std::snprintf(text, sizeof text, "its checks' process ended (exception 0x%08X)",
                      static_cast<unsigned>(ran.exit_code));
#else
        std::snprintf(text, sizeof text, "its checks' process ended (signal %d)", ran.exit_code);
#endif
    } else {
        std::snprintf(text, sizeof text,
                      "its checks' process ended (exit code %d) without a report", ran.exit_code);
    }
    return text;
}

bool bridge_present() {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(hostkit::executable_folder()) /
                                       hostkit::program_file_name("kestrune-bridge"),
                                   error);
}

} // namespace

machine_check check_apart(const check_options& options, std::size_t index,
                          const kestrune::host_info& info, std::uint64_t seed) {
    std::string self = own_program_path();
    double deadline =
        options.deadline > 0.0 ? options.deadline : machine_deadline_seconds(options.level);
    child_result ran = run_child(self, child_arguments(options, index, seed, options.isolated),
                                 deadline, child_output_limit);
    if (auto report = report_of(ran)) {
        return *report;
    }
    std::string ended = what_ended(ran, deadline);
    if (!options.isolated && bridge_present()) {
        child_result again = run_child(self, child_arguments(options, index, seed, true), deadline,
                                       child_output_limit);
        if (auto report = report_of(again)) {
            report->rows.insert(
                report->rows.begin() + (report->rows.empty() ? 0 : 1),
                check_row{"own process", verdict::fail, ended + "; checked again isolated, below"});
            return *report;
        }
        ended += "; isolated too: " + what_ended(again, deadline);
    }
    machine_check lost;
    lost.name = info.full_name != nullptr ? info.full_name : "";
    lost.uri = info.identity_uri != nullptr ? info.identity_uri : "";
    lost.level = options.level;
    lost.seed = seed;
    lost.rows.push_back(check_row{"own process", verdict::fail, ended});
    return lost;
}

} // namespace kestrune_host
