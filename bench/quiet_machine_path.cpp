// Where the benchmark programs find the quiet machine; no Google Benchmark and nothing POSIX, so
// that kestrune_guard_timing builds for the Windows flavour with it.
#include <filesystem>

#include "bench/bench_support.h"
#include "platform/platform.h"

namespace kestrune::bench {

std::string program_folder() {
    char path[platform::max_path + 1] = {};
    unsigned length =
        platform::module_file_name(platform::executable_module(), path, platform::max_path);
    if (length == 0 || length >= platform::max_path) {
        return ".";
    }
    return std::filesystem::path(path).parent_path().string();
}

std::string quiet_machine_path() {
    return (std::filesystem::path(program_folder()) / "bench" / "quiet_machine.dll").string();
}

} // namespace kestrune::bench
