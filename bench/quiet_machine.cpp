// Where the benchmark programs find the quiet machine, its description and a started instance;
// no Google Benchmark and nothing POSIX, so that kestrune_timing builds for the Windows flavour
// with it.
#include <filesystem>

#include "bench/bench_support.h"
#include "hostkit/host_platform.h"
#include "platform/module.h"
#include "runtime/machine_plugin.h"

namespace kestrune::bench {

std::string quiet_machine_path() {
    return (std::filesystem::path(hostkit::executable_folder()) / "bench" / "quiet_machine.dll")
        .string();
}

std::unique_ptr<machine_info> describe_quiet_machine() {
    std::string path = quiet_machine_path();
    platform::module_handle library = platform::load_library(path.c_str());
    if (library == nullptr) {
        return nullptr;
    }
    auto get_info =
        reinterpret_cast<get_info_function>(platform::find_export(library, get_info_export));
    const machine_description* description = get_info != nullptr ? get_info() : nullptr;
    std::unique_ptr<machine_info> info;
    if (description != nullptr) {
        info.reset(build_machine_info(*description, path.c_str(), make_machine_plugin));
    }
    platform::free_library(library);
    return info;
}

started_instance::started_instance(machine_info& info) : plugin(info.make_instance()) {
    if (plugin != nullptr) {
        plugin->master_info = &master_;
        plugin->start(nullptr);
    }
}

started_instance::~started_instance() {
    if (plugin != nullptr) {
        plugin->release();
    }
}

} // namespace kestrune::bench
