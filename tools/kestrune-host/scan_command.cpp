// kestrune-host scan: the library's scan of Gear/Psycle, as any host starts it, and what its
// cache tells of each DLL afterwards: how the scan treated it, read from the cache before and
// after.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "host/scan_store.h"
#include "listing.h"
#include "system.h"

namespace kestrune_host {

namespace {

using kestrune::cache_entry;
using kestrune::probe_outcome;

std::string bad_outcome_text(const cache_entry& after) {
    switch (after.outcome) {
    case probe_outcome::not_machine:
        return "not a machine";
    case probe_outcome::faulted:
        return "faulted";
    case probe_outcome::hung:
        return "hung (" + std::to_string(after.count) + ")";
    case probe_outcome::ended_scanner:
        return "ended the scanner";
    default:
        return "unknown";
    }
}

// What the scan did with one DLL, given its entry before the scan (null: none) and after. A bad
// one that the scan passed over, its file unchanged, is "remembered".
std::string outcome_text(const cache_entry* before, const cache_entry& after, bool fresh) {
    bool unchanged = before != nullptr && before->stamp.size == after.stamp.size &&
                     before->stamp.time == after.stamp.time;
    if (after.outcome != probe_outcome::description) {
        bool passed_over =
            unchanged && !fresh && before->outcome == after.outcome && before->count == after.count;
        return bad_outcome_text(after) + (passed_over ? ", remembered" : "");
    }
    switch (after.outcome) {
    case probe_outcome::description:
        if (before == nullptr) {
            return "new";
        }
        if (!unchanged) {
            return "changed";
        }
        return fresh || before->outcome != probe_outcome::description ? "probed" : "cached";
    default:
        return bad_outcome_text(after);
    }
}

struct row {
    std::string file; // below the machine folder
    std::string outcome;
    std::string name; // a machine's full name
};

} // namespace

int run_scan(const std::string& library_path, const scan_options& options) {
    kestrune::scan_store store;
    bool remembered = store.open(kestrune::process_environment());
    kestrune::scan_cache before;
    if (remembered) {
        store.load(before);
    }
    bool progress = options.progress && !options.json && stderr_is_terminal();
    auto start = std::chrono::steady_clock::now();
    auto show = [&](std::size_t count) {
        if (progress) {
            double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::fprintf(stderr, "\rscanning: %zu machines announced, %.1f s", count, seconds);
            std::fflush(stderr);
        }
    };
    session s;
    std::string error;
    if (!s.open(library_path, error, options.fresh, show)) {
        return report(exit_failed, error);
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (progress) {
        std::fprintf(stderr, "\r%60s\r", "");
    }

    kestrune::scan_cache after;
    if (remembered) {
        store.load(after);
    }
    std::string folder = machine_folder();
    std::vector<row> rows;
    for (const cache_entry& entry : after.entries()) {
        if (entry.path.size() <= folder.size() ||
            entry.path.compare(0, folder.size(), folder) != 0) {
            continue; // another host's machine
        }
        rows.push_back(row{entry.path.substr(folder.size() + 1),
                           outcome_text(before.find(entry.path), entry, options.fresh),
                           entry.description.full_name});
    }
    std::sort(rows.begin(), rows.end(), [](const row& a, const row& b) { return a.file < b.file; });
    std::size_t announced = s.machines().size();

    if (options.json) {
        nlohmann::ordered_json files = nlohmann::ordered_json::array();
        for (const row& r : rows) {
            nlohmann::ordered_json file = {{"file", r.file}, {"outcome", r.outcome}};
            if (!r.name.empty()) {
                file["machine"] = r.name;
            }
            files.push_back(file);
        }
        nlohmann::ordered_json out = {
            {"machine_folder", folder},
            {"cache", remembered ? nlohmann::ordered_json(store.cache_path()) : nullptr},
            {"fresh", options.fresh},
            {"seconds", seconds},
            {"announced", announced},
            {"files", files}};
        std::printf("%s\n", json_text(out).c_str());
        return 0;
    }
    std::printf("%zu machine%s announced from %s in %.3f s\n", announced, announced == 1 ? "" : "s",
                folder.c_str(), seconds);
    if (!remembered) {
        std::printf("the scan's cache is off (KESTRUNE_CACHE), or its folder can't be made: "
                    "nothing is remembered\n");
        return 0;
    }
    std::printf("cache: %s\n", store.cache_path().c_str());
    for (const row& r : rows) {
        std::printf("  %-18s %s%s\n", r.outcome.c_str(), r.file.c_str(),
                    r.name.empty() ? "" : ("  (" + r.name + ")").c_str());
    }
    return 0;
}

} // namespace kestrune_host
