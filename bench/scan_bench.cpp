// The scan of 500 machine files through the collection, next to the least that any scan must
// do for them: load each file, ask its "GetInfo" and free it again.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/bench_support.h"
#include "host/machine_collection.h"
#include "platform/platform.h"

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

void scan_kestrune(benchmark::State& state) {
    if (tree().files().size() != folders * files_per_folder) {
        state.SkipWithError("the machine tree can't be made");
        return;
    }
    int announced = 0;
    for (auto _ : state) {
        auto* collection = new machine_collection(nullptr);
        counting_factory factory;
        collection->factory = &factory;
        char path[platform::max_path];
        std::strncpy(path, tree().root().c_str(), sizeof path - 1);
        path[sizeof path - 1] = '\0';
        collection->scan_folder(path);
        announced = factory.announced;
        collection->release();
    }
    if (announced != folders * files_per_folder) {
        state.SkipWithError("the scan missed machines");
    }
    state.SetItemsProcessed(state.iterations() * folders * files_per_folder);
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
    benchmark::RegisterBenchmark("scan/bare", scan_bare)->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
} // namespace kestrune::bench
