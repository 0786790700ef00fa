#include "check_child.h"

#include <nlohmann/json.hpp>

namespace kestrune_host {

namespace {

using json = nlohmann::json;

std::string text_of(const json& object, const char* key) {
    auto found = object.find(key);
    if (found == object.end() || !found->is_string()) {
        return "";
    }
    const std::string& text = found->get_ref<const std::string&>();
    return text.substr(0, child_text_limit);
}

std::optional<verdict> verdict_named(const std::string& name) {
    for (verdict v : {verdict::pass, verdict::skip, verdict::warn, verdict::fail}) {
        if (name == verdict_name(v)) {
            return v;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<machine_check> machine_from_child(const std::string& output) {
    if (output.size() >= child_output_limit) {
        return std::nullopt; // cut short: not the whole report
    }
    json whole = json::parse(output, nullptr, false);
    if (whole.is_discarded() || !whole.is_object() || !whole.contains("machines") ||
        !whole["machines"].is_array() || whole["machines"].size() != 1 ||
        !whole["machines"][0].is_object()) {
        return std::nullopt;
    }
    const json& one = whole["machines"][0];
    machine_check machine;
    machine.name = text_of(one, "name");
    machine.uri = text_of(one, "uri");
    machine.file = text_of(one, "file");
    machine.fault = text_of(one, "fault");
    if (one.contains("realtime_factor") && one["realtime_factor"].is_number()) {
        machine.realtime_factor = one["realtime_factor"].get<double>();
    }
    if (one.contains("level") && one["level"].is_number_integer()) {
        machine.level = one["level"].get<int>();
    }
    if (one.contains("seed") && one["seed"].is_number_unsigned()) {
        machine.seed = one["seed"].get<std::uint64_t>();
    }
    if (!one.contains("checks") || !one["checks"].is_array() ||
        one["checks"].size() > child_rows_limit) {
        return std::nullopt;
    }
    for (const json& row : one["checks"]) {
        if (!row.is_object()) {
            return std::nullopt;
        }
        auto result = verdict_named(text_of(row, "verdict"));
        if (!result) {
            return std::nullopt;
        }
        check_row read(text_of(row, "name"), *result, text_of(row, "reason"));
        if (row.contains("figures") && row["figures"].is_object()) {
            for (const auto& [name, value] : row["figures"].items()) {
                if (value.is_number() && read.figures.size() < child_figures_limit) {
                    read.figures.emplace_back(name.substr(0, child_text_limit),
                                              value.get<double>());
                }
            }
        }
        machine.rows.push_back(std::move(read));
    }
    return machine;
}

double machine_deadline_seconds(int level) {
    return 30.0 + 15.0 * level;
}

bool in_process_only(const std::string& check_name) {
    // Allocations are counted in the machine's own process; the memory after many starts is
    // the process's; and an isolated machine renders on its bridge's thread whatever thread
    // the host calls from.
    return check_name == "allocations" || check_name == "starts and memory" ||
           check_name == "threads";
}

} // namespace kestrune_host
