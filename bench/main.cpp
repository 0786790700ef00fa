// Runs every benchmark with Google Benchmark's usual console output, then prints one table:
// each of Kestrune's operations, its time, and where there is one, the time of the ideal work
// beside it and the ratio of the two.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

// The console reporter, keeping the CPU time of every run in nanoseconds by its name.
class table_reporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) {
                continue;
            }
            times[run.benchmark_name()] =
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

void print_row(const table_reporter& reporter, const std::string& label, const std::string& ours,
               const std::string& ideal) {
    auto found = reporter.times.find(ours);
    if (found == reporter.times.end()) {
        std::printf("%-34s %14s\n", label.c_str(), "(not run)");
        return;
    }
    auto other = ideal.empty() ? reporter.times.end() : reporter.times.find(ideal);
    if (other == reporter.times.end() || other->second <= 0) {
        std::printf("%-34s %14s\n", label.c_str(), format_time(found->second).c_str());
        return;
    }
    std::printf("%-34s %14s %14s %8.2f\n", label.c_str(), format_time(found->second).c_str(),
                format_time(other->second).c_str(), found->second / other->second);
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
        print_row(reporter, "render, block of " + n, "render/kestrune/" + n, "render/ideal/" + n);
    }
    print_row(reporter, "take_events, 64 words, 32 notes", "take_events", "");
    print_row(reporter, "value_text, global parameter", "value_text/global/0", "");
    print_row(reporter, "value_text, track parameter", "value_text/track/1", "");
    print_row(reporter, "scan of 500 machines (bare loop)", "scan/kestrune", "scan/bare");
    return 0;
}
