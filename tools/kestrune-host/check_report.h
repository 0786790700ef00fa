// What "check" prints: a table per machine and a summary line for a person, or one JSON
// document for scripts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "check_result.h"

namespace kestrune_host {

// The machine's name and verdict, then a row per check: its name, verdict and reason.
std::string check_table(const machine_check& machine);
// "3 machines: 2 pass, 0 warn, 1 fail".
std::string check_summary(const std::vector<machine_check>& machines);
// The run's level and first seed, every machine's rows with their figures, and the exit code.
nlohmann::ordered_json check_json(const std::vector<machine_check>& machines, int level,
                                  std::uint64_t seed);

} // namespace kestrune_host
