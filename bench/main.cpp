// Runs every benchmark with Google Benchmark's usual console output, then prints one table:
// each of Kestrune's operations, its time, and where there is one, the time of the ideal work
// beside it and the ratio of the two. A benchmark run in repetitions counts by its median; where
// the ideal work has several shapes, the fastest is the floor.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>

namespace {

// The console reporter, keeping the CPU time of every run in nanoseconds by its name: a single
// run's, or the median of its repetitions.
class table_reporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type != Run::RT_Iteration && !median)) {
                continue;
            }
            const auto& name = run.run_name; // its function and arguments, not its repeats
            times[name.args.empty() ? name.function_name : name.function_name + "/" + name.args] =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
        }
    }
    std::map<std::string, double> times;
};

std::string format_time(double ns) {
    char text[32];
    if (ns >= 1e6) {
        std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    } else if (ns >= 1e3) {
        std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.1f ns", ns);
    }
    return text;
}

// One row: ours, and the fastest of the ideal shapes that ran.
void print_row(const table_reporter& reporter, const std::string& label, const std::string& ours,
               std::initializer_list<std::string> ideals) {
    auto found = reporter.times.find(ours);
    if (found == reporter.times.end()) {
        std::printf("%-34s %14s\n", label.c_str(), "(not run)");
        return;
    }
    double floor = 0;
    for (const std::string& ideal : ideals) {
        auto other = reporter.times.find(ideal);
        if (other != reporter.times.end() && other->second > 0 &&
            (floor == 0 || other->second < floor)) {
            floor = other->second;
        }
    }
    if (floor == 0) {
        std::printf("%-34s %14s\n", label.c_str(), format_time(found->second).c_str());
        return;
    }
    std::printf("%-34s %14s %14s %8.2f\n", label.c_str(), format_time(found->second).c_str(),
                format_time(floor).c_str(), found->second / floor);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    table_reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-34s %14s %14s %8s\n", "operation (CPU time per call)", "Kestrune", "ideal",
                "ratio");
    for (int size : {1, 64, 256, 1024, 4096}) {
        const std::string n = std::to_string(size);
        print_row(reporter, "render, block of " + n, "render/kestrune/" + n,
                  {"render/ideal_fused/" + n, "render/ideal_channels/" + n});
    }
    print_row(reporter, "machine call, guarded (bare)", "machine_call/guarded",
              {"machine_call/bare"});
    print_row(reporter, "take_events, 64 words, 32 notes", "take_events", {});
    print_row(reporter, "value_text, global parameter", "value_text/global/0", {});
    print_row(reporter, "value_text, track parameter", "value_text/track/1", {});
    print_row(reporter, "scan of 500 machines (bare loop)", "scan/kestrune", {"scan/bare"});
    print_row(reporter, "scan, nothing changed (bare loop)", "scan/unchanged", {"scan/bare"});
    // The first scan out of process runs in the scanner: its CPU time isn't this process's, so
    // it is compared by the real time of Google Benchmark's report (scan/first_out_of_process
    // against scan/bare).
    const auto guarded = reporter.times.find("machine_call/guarded");
    const auto bare = reporter.times.find("machine_call/bare");
    if (guarded != reporter.times.end() && bare != reporter.times.end()) {
        std::printf("\nthe guard adds %.2f ns to a machine call\n", guarded->second - bare->second);
    }
    return 0;
}
