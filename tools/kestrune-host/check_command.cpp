// check: every machine asked for (or every one announced) through the checks, a table each
// and a summary, or JSON.
#include <algorithm>
#include <cstdio>

#include "check_apart.h"
#include "check_junit.h"
#include "check_levels.h"
#include "check_machine.h"
#include "check_report.h"
#include "choose.h"
#include "commands.h"
#include "listing.h"
#include "system.h"

namespace kestrune_host {

namespace {

// "[3/120] Name", over the line before; only on a terminal, and wiped at the end.
class progress_line {
public:
    explicit progress_line(bool shown) : shown_(shown) {}
    ~progress_line() { show(""); }
    void show(const std::string& text) {
        if (!shown_) {
            return;
        }
        std::string padded = text.substr(0, 78);
        std::size_t drawn = padded.size();
        padded.resize(std::max(drawn, width_), ' ');
        std::fprintf(stderr, "\r%s\r%s", padded.c_str(), text.substr(0, 78).c_str());
        std::fflush(stderr);
        width_ = drawn;
    }

private:
    bool shown_;
    std::size_t width_ = 0;
};

} // namespace

int run_check(session& s, const check_options& options) {
    const auto& announced = s.machines();
    std::vector<kestrune::host_info*> chosen;
    std::vector<machine_check> results;
    if (options.machines.empty()) {
        chosen = announced;
    }
    for (const std::string& wanted : options.machines) {
        std::string error;
        auto index = choose_machine(announced, wanted, error);
        if (index) {
            chosen.push_back(announced[*index]);
        } else {
            results.push_back(not_announced(wanted, error));
        }
    }
    if (chosen.empty() && results.empty()) {
        return report(exit_failed, "no machines to check in " + machine_folder());
    }

    progress_line progress(options.progress && stderr_is_terminal());
    for (int run = 0; run < options.repeat; ++run) {
        std::uint64_t seed = run_seed(options.seed, run);
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            const char* name = chosen[i]->full_name != nullptr ? chosen[i]->full_name : "";
            progress.show("[" + std::to_string(i + 1) + "/" + std::to_string(chosen.size()) +
                          "] checking " + name);
            // Isolated, every machine already runs in a bridge process of its own: a process
            // of its checks' own would only add its start.
            if (options.in_process || options.isolated) {
                results.push_back(check_machine(*chosen[i], options.level, seed, options.isolated));
            } else {
                std::size_t index = static_cast<std::size_t>(
                    std::find(announced.begin(), announced.end(), chosen[i]) - announced.begin());
                results.push_back(check_apart(options, index, *chosen[i], seed));
            }
        }
    }
    progress.show("");

    if (!options.junit.empty()) {
        std::FILE* file = std::fopen(options.junit.c_str(), "wb");
        std::string xml = check_junit(results);
        bool written =
            file != nullptr && std::fwrite(xml.data(), 1, xml.size(), file) == xml.size();
        written = file != nullptr && std::fclose(file) == 0 && written;
        if (!written) {
            warn("could not write " + options.junit);
        }
    }
    if (options.json) {
        std::printf("%s\n", json_text(check_json(results, options.level, options.seed)).c_str());
    } else {
        for (const machine_check& machine : results) {
            std::printf("%s\n", check_table(machine).c_str());
        }
        std::printf("%s at level %d, seed %llu\n", check_summary(results).c_str(), options.level,
                    static_cast<unsigned long long>(options.seed));
    }
    return check_exit_code(results);
}

} // namespace kestrune_host
