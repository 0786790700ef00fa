#include "check_machine.h"

#include <algorithm>
#include <functional>

#include "check_child.h"
#include "check_context.h"
#include "check_stages.h"
#include "listing.h"

namespace kestrune_host {

namespace {

struct stage {
    std::string name;
    std::function<check_row(std::string& fault)> run;
};

std::vector<stage> stages_of(kestrune::host_info& info, machine_check& machine, check_context& c) {
    std::vector<stage> stages;
    stages.push_back({"starts", [&info, &machine](std::string& fault) {
                          return check_start(info, machine.file, fault);
                      }});
    for (int rate : check_rates) {
        stages.push_back({"render " + std::to_string(rate) + " Hz",
                          [&info, rate](std::string& f) { return check_render(info, rate, f); }});
    }
    stages.push_back(
        {"parameters", [&info](std::string& fault) { return check_parameters(info, fault); }});
    stages.push_back({"state", [&info](std::string& fault) { return check_state(info, fault); }});
    stages.push_back(
        {"start twice", [&info](std::string& fault) { return check_start_twice(info, fault); }});
    stages.push_back(
        {"mute and halt", [&info](std::string& fault) { return check_mute_halt(info, fault); }});
    stages.push_back({"cost", [&info, &machine](std::string& fault) {
                          return check_cost(info, machine.realtime_factor, fault);
                      }});
    using newer_check = check_row (*)(check_context&, std::string&);
    const std::pair<const char*, newer_check> newer[] = {
        {"notes and commands", check_notes_commands},
        {"parameters while playing", check_parameters_playing},
        {"damaged state", check_damaged_state},
        {"rates and sizes", check_rates_sizes},
        {"two instances", check_two_instances},
        {"threads", check_threads},
        {"subnormals", check_subnormals},
        {"starts and memory", check_starts_memory},
        {"allocations", check_allocations},
    };
    for (const auto& [name, run] : newer) {
        stages.push_back({name, [&c, run = run](std::string& fault) { return run(c, fault); }});
    }
    // The level decides which of them run, in the order above.
    stages.erase(std::remove_if(stages.begin(), stages.end(),
                                [&c](const stage& s) { return !runs_at(s.name, c.level); }),
                 stages.end());
    return stages;
}

} // namespace

machine_check check_machine(kestrune::host_info& info, int level, std::uint64_t seed,
                            bool isolated) {
    machine_check machine;
    machine.level = level;
    machine.seed = seed;
    random_stream random(seed);
    check_context context{info, level, random};
    machine.name = info.full_name != nullptr ? info.full_name : "";
    machine.uri = info.identity_uri != nullptr ? info.identity_uri : "";
    machine.rows.push_back(check_row{"announced", verdict::pass,
                                     machine_kind_name(info.kind) + ", " +
                                         std::to_string(info.global_params().size()) +
                                         " global parameters"});
    std::string stopped; // why the remaining checks are skipped
    for (const stage& next : stages_of(info, machine, context)) {
        if (!stopped.empty()) {
            machine.rows.push_back(check_row{next.name, verdict::skip, stopped});
            continue;
        }
        if (isolated && in_process_only(next.name)) {
            machine.rows.push_back(check_row{next.name, verdict::skip, "isolated"});
            continue;
        }
        std::string fault;
        check_row row = next.run(fault);
        if (!fault.empty()) {
            row.result = verdict::fail;
            row.reason = "faulted: " + fault;
            machine.fault = fault;
            stopped = "after the fault";
        } else if (row.result == verdict::fail && next.name == "starts") {
            stopped = "no instance";
        }
        machine.rows.push_back(row);
    }
    machine.rows.push_back(machine.fault.empty()
                               ? check_row{"fault", verdict::pass, "none"}
                               : check_row{"fault", verdict::fail, "Faulted: " + machine.fault});
    return machine;
}

machine_check not_announced(const std::string& wanted, const std::string& why) {
    machine_check machine;
    machine.name = wanted;
    machine.rows.push_back(check_row{"announced", verdict::fail, why});
    return machine;
}

} // namespace kestrune_host
