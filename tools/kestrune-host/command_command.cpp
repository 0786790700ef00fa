#include <cstdio>

#include "choose.h"
#include "commands.h"
#include "hostkit/master_info.h"
#include "listing.h"
#include "message_boxes.h"

namespace kestrune_host {

int run_command_entry(session& s, const std::string& machine, std::optional<int> index) {
    std::string error;
    auto chosen = choose_machine(s.machines(), machine, error);
    if (!chosen) {
        return report(exit_failed, error);
    }
    kestrune::host_info& info = *s.machines()[*chosen];
    std::vector<std::string> entries = command_entries(info.command_list);
    int entry = index ? *index : static_cast<int>(entries.size()) - 1;
    if (entry < 0 || static_cast<std::size_t>(entry) >= entries.size()) {
        return report(exit_usage, "there is no command " + std::to_string(entry) + ": \"" +
                                      std::string(info.full_name) + "\" has " +
                                      std::to_string(entries.size()) + " (0 to " +
                                      std::to_string(entries.size() - 1) + ")");
    }

    kestrune_host::instance live(info, hostkit::make_master_info());
    if (!live.start(nullptr, error)) {
        return report(exit_failed, error);
    }
    box_reader boxes(true);
    live.plugin()->run_command(entry);
    std::string shown = boxes.finish();
    if (!index && shown.empty()) {
        return report(exit_failed,
                      "the About box of \"" + std::string(info.full_name) + "\" didn't open");
    }
    // Each box comes as "caption: text"; the About box's caption is the library's name and
    // version, and what the user reads is its text.
    if (!index) {
        std::size_t colon = shown.find(": ");
        if (colon != std::string::npos) {
            shown = shown.substr(colon + 2);
        }
    }
    std::fputs(shown.c_str(), stdout);
    if (!shown.empty() && shown.back() != '\n') {
        std::fputc('\n', stdout);
    }
    return 0;
}

} // namespace kestrune_host
