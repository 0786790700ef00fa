// Where the benchmark programs find the quiet machine; no Google Benchmark and nothing POSIX, so
// that kestrune_guard_timing builds for the Windows flavour with it.
#include <filesystem>

#include "bench/bench_support.h"
#include "hostkit/host_platform.h"

namespace kestrune::bench {

std::string quiet_machine_path() {
    return (std::filesystem::path(hostkit::executable_folder()) / "bench" / "quiet_machine.dll")
        .string();
}

} // namespace kestrune::bench
