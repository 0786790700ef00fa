// The scan of 500 machine files through the collection, next to the least that any scan must
// do for them: load each file, ask its "GetInfo" and free it again. The collection's scan runs
// in process without its cache (as before there was one), out of process with every DLL probed
// (a first start), and with nothing changed since the last scan (every start after it). The
// goals: an unchanged start at most a tenth of the bare loop, a first scan out of process at
// most 1.3 times it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bench/bench_support.h"
#include "host/machine_collection.h"
#include "platform/files.h"
#include "platform/module.h"

namespace kestrune::bench {
namespace {

constexpr int folders = 10;
constexpr int files_per_folder = 50;

class counting_factory final : public host_factory {
public:
    void announce(host_info* info) override {
        (void)info;
        ++announced;
    }
    int announced = 0;
};

machine_tree& tree() {
    static machine_tree shared(folders, files_per_folder);
    return shared;
}

// The benchmarks' own cache folder, never the user's.
const std::string& cache_folder() {
    static const std::string folder = (std::filesystem::temp_directory_path() /
                                       ("kestrune-bench-cache-" + std::to_string(getpid())))
                                          .string();
    return folder;
}

// How the collection scans: cache "off" or the benchmarks' folder; in process or not.
void scan_setting(bool cached, bool in_process) {
    setenv("KESTRUNE_CACHE", cached ? cache_folder().c_str() : "off", 1);
    if (in_process) {
        setenv("KESTRUNE_SCAN", "in-process", 1);
    } else {
        unsetenv("KESTRUNE_SCAN");
    }
}

// One scan of the tree by a new collection; answers the machines announced.
int scan_tree(bool fresh) {
    auto* collection = new machine_collection(nullptr);
    counting_factory factory;
    collection->factory = &factory;
    if (fresh) {
        collection->set_option(scan_option, "fresh");
    }
    char path[platform::max_path];
    std::strncpy(path, tree().root().c_str(), sizeof path - 1);
    path[sizeof path - 1] = '\0';
    collection->scan_folder(path);
    int announced = factory.announced;
    collection->release();
    return announced;
}

void run_scans(benchmark::State& state, bool cached, bool in_process, bool fresh) {
    if (tree().files().size() != folders * files_per_folder) {
        state.SkipWithError("the machine tree can't be made");
        return;
    }
    scan_setting(cached, in_process);
    if (cached && scan_tree(true) != folders * files_per_folder) {
        state.SkipWithError("the first scan missed machines");
        return;
    }
    int announced = 0;
    for (auto _ : state) {
        announced = scan_tree(fresh);
    }
    if (announced != folders * files_per_folder) {
        state.SkipWithError("the scan missed machines");
    }
    state.SetItemsProcessed(state.iterations() * folders * files_per_folder);
    std::error_code ignored;
    std::filesystem::remove_all(cache_folder(), ignored);
}

// In process, nothing remembered: the scan as it was before its cache.
void scan_kestrune(benchmark::State& state) {
    run_scans(state, false, true, false);
}

// A start with nothing changed since the last scan: every description from the cache.
void scan_unchanged(benchmark::State& state) {
    run_scans(state, true, false, false);
}

// A first start: every DLL probed in the scanner, and the cache written.
void scan_first_out_of_process(benchmark::State& state) {
    run_scans(state, true, false, true);
}

// The same in process, each probe behind the record of the DLL being probed.
void scan_first_in_process(benchmark::State& state) {
    run_scans(state, true, true, true);
}

void scan_bare(benchmark::State& state) {
    if (tree().files().size() != folders * files_per_folder) {
        state.SkipWithError("the machine tree can't be made");
        return;
    }
    for (auto _ : state) {
        for (const std::string& file : tree().files()) {
            platform::module_handle library = platform::load_library(file.c_str());
            auto get_info = reinterpret_cast<get_info_function>(
                platform::find_export(library, get_info_export));
            const machine_description* description = get_info != nullptr ? get_info() : nullptr;
            benchmark::DoNotOptimize(description);
            platform::free_library(library);
        }
    }
    state.SetItemsProcessed(state.iterations() * folders * files_per_folder);
}

[[maybe_unused]] const bool registered = [] {
    benchmark::RegisterBenchmark("scan/kestrune", scan_kestrune)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("scan/unchanged", scan_unchanged)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("scan/first_out_of_process", scan_first_out_of_process)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("scan/first_in_process", scan_first_in_process)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("scan/bare", scan_bare)->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
} // namespace kestrune::bench
