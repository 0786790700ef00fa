// What the fault guard costs one machine call: the same call into the quiet machine, which does
// nothing, made bare and made through guarded_machine as every call of Kestrune's is.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include "calls/guarded_machine.h"
#include "platform/module.h"

namespace kestrune::bench {
namespace {

// One quiet machine, created from its DLL for the length of a benchmark and leaked with it.
struct quiet_machine {
    quiet_machine() {
        std::string path = quiet_machine_path();
        library = platform::load_library(path.c_str());
        auto create = reinterpret_cast<create_machine_function>(
            platform::find_export(library, create_machine_export));
        target = create != nullptr ? create() : nullptr;
    }
    ~quiet_machine() {
        auto remove = reinterpret_cast<delete_machine_function>(
            platform::find_export(library, delete_machine_export));
        if (target != nullptr && remove != nullptr) {
            remove(target);
        }
        platform::free_library(library);
    }
    quiet_machine(const quiet_machine&) = delete;
    quiet_machine& operator=(const quiet_machine&) = delete;
    platform::module_handle library = nullptr;
    kestrune::machine* target = nullptr;
};

void call_bare(benchmark::State& state) {
    quiet_machine machine;
    if (machine.target == nullptr) {
        state.SkipWithError("the quiet machine can't be made");
        return;
    }
    kestrune::machine* target = machine.target;
    for (auto _ : state) {
        benchmark::DoNotOptimize(target);
        target->set_parameter(3, 100);
    }
}

void call_guarded(benchmark::State& state) {
    quiet_machine machine;
    if (machine.target == nullptr) {
        state.SkipWithError("the quiet machine can't be made");
        return;
    }
    guarded_machine guarded(machine.target);
    for (auto _ : state) {
        benchmark::DoNotOptimize(guarded.target);
        bool returned = guarded.set_parameter(3, 100);
        benchmark::DoNotOptimize(returned);
    }
}

BENCHMARK(call_bare)->Name("machine_call/bare")->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(call_guarded)->Name("machine_call/guarded")->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace
} // namespace kestrune::bench
