#include "check_report.h"

#include <cstdio>

namespace kestrune_host {

std::string check_table(const machine_check& machine) {
    std::string text = machine.name + "  " + verdict_name(machine_verdict(machine)) + "  (level " +
                       std::to_string(machine.level) + ", seed " + std::to_string(machine.seed) +
                       ")\n";
    if (!machine.file.empty()) {
        text += "  " + machine.file + "\n";
    }
    for (const check_row& row : machine.rows) {
        char line[96];
        std::snprintf(line, sizeof line, "  %-24s %-5s ", row.name.c_str(),
                      verdict_name(row.result));
        text += line + row.reason + "\n";
    }
    return text;
}

std::string check_summary(const std::vector<machine_check>& machines) {
    int counts[4] = {};
    for (const machine_check& machine : machines) {
        ++counts[static_cast<int>(machine_verdict(machine))];
    }
    // A machine whose worst row is a skip has no failure: it passes.
    int pass = counts[static_cast<int>(verdict::pass)] + counts[static_cast<int>(verdict::skip)];
    return std::to_string(machines.size()) + (machines.size() == 1 ? " machine: " : " machines: ") +
           std::to_string(pass) + " pass, " +
           std::to_string(counts[static_cast<int>(verdict::warn)]) + " warn, " +
           std::to_string(counts[static_cast<int>(verdict::fail)]) + " fail";
}

nlohmann::ordered_json check_json(const std::vector<machine_check>& machines, int level,
                                  std::uint64_t seed) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const machine_check& machine : machines) {
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const check_row& row : machine.rows) {
            nlohmann::ordered_json figures = nlohmann::ordered_json::object();
            for (const auto& [name, value] : row.figures) {
                figures[name] = value;
            }
            rows.push_back({{"name", row.name},
                            {"verdict", verdict_name(row.result)},
                            {"reason", row.reason},
                            {"figures", figures}});
        }
        nlohmann::ordered_json one = {
            {"name", machine.name},   {"uri", machine.uri},
            {"level", machine.level}, {"seed", machine.seed},
            {"file", machine.file},   {"verdict", verdict_name(machine_verdict(machine))},
            {"fault", nullptr},       {"realtime_factor", nullptr},
            {"checks", rows}};
        if (!machine.fault.empty()) {
            one["fault"] = machine.fault;
        }
        if (machine.realtime_factor >= 0.0) {
            one["realtime_factor"] = machine.realtime_factor;
        }
        list.push_back(one);
    }
    return {{"level", level},
            {"seed", seed},
            {"machines", list},
            {"summary", check_summary(machines)},
            {"exit_code", check_exit_code(machines)}};
}

} // namespace kestrune_host
