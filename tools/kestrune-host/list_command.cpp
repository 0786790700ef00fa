#include <cstdio>

#include "choose.h"
#include "commands.h"
#include "listing.h"

namespace kestrune_host {

int run_list(session& s, const std::string& library_path, const list_options& options) {
    const auto& machines = s.machines();
    std::vector<std::size_t> shown;
    if (options.machine.empty()) {
        for (std::size_t i = 0; i < machines.size(); ++i) {
            shown.push_back(i);
        }
    } else {
        std::string error;
        auto chosen = choose_machine(machines, options.machine, error);
        if (!chosen) {
            return report(exit_failed, error);
        }
        shown.push_back(*chosen);
    }

    if (options.json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (std::size_t i : shown) {
            list.push_back(machine_json(*machines[i], i));
        }
        nlohmann::ordered_json out = {{"library", library_path},
                                      {"signature", s.signature()},
                                      {"machine_folder", machine_folder()},
                                      {"machines", list}};
        std::printf("%s\n", json_text(out).c_str());
        return 0;
    }

    if (options.machine.empty()) {
        std::printf("%zu machine%s in %s\n", machines.size(), machines.size() == 1 ? "" : "s",
                    machine_folder().c_str());
    }
    for (std::size_t i : shown) {
        std::printf("\n%s", machine_text(*machines[i], i).c_str());
    }
    return 0;
}

} // namespace kestrune_host
