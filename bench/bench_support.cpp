#include "bench/bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

namespace kestrune::bench {

quiet_instance::quiet_instance(benchmark::State& state) : info(describe_quiet_machine()) {
    if (!info) {
        state.SkipWithError("the quiet machine can't be read");
        return;
    }
    started = std::make_unique<started_instance>(*info);
    plugin = started->plugin;
    if (plugin == nullptr) {
        state.SkipWithError("no instance");
    }
}

machine_tree::machine_tree(int folders, int files_per_folder) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "kestrune-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    root_ = pattern;
    const fs::path machine = quiet_machine_path();
    std::error_code error;
    for (int f = 0; f < folders; ++f) {
        fs::path folder = fs::path(root_) / ("folder " + std::to_string(f));
        fs::create_directories(folder, error);
        for (int i = 0; i < files_per_folder; ++i) {
            // Copies, not links: the loader would recognise a second link to a file it holds.
            fs::path file = folder / ("machine " + std::to_string(i) + ".dll");
            if (fs::copy_file(machine, file, fs::copy_options::overwrite_existing, error)) {
                files_.push_back(file.string());
            }
        }
    }
}

machine_tree::~machine_tree() {
    if (!root_.empty()) {
        std::error_code error;
        std::filesystem::remove_all(root_, error);
    }
}

} // namespace kestrune::bench
