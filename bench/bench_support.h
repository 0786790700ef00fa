// What the benchmarks share: the quiet machine that does nothing (bin/bench/quiet_machine.dll),
// its description and a started instance of it, and a folder of machine files to scan.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/host_interface.h"
#include "machine/machine_info.h"

namespace benchmark {
class State;
} // namespace benchmark

namespace kestrune::bench {

// bin/bench/quiet_machine.dll: 64 word parameters, a generator, every call a no-op.
std::string quiet_machine_path();

// The quiet machine's description, as the scan builds it; null when the DLL can't be read.
std::unique_ptr<machine_info> describe_quiet_machine();

// A started instance of a description, released at the end of the scope.
class started_instance {
public:
    explicit started_instance(machine_info& info);
    ~started_instance();
    started_instance(const started_instance&) = delete;
    started_instance& operator=(const started_instance&) = delete;
    host_plugin* plugin = nullptr; // null when the instance couldn't be made

private:
    host_master_info master_{125, 4, 44100, 5292};
};

// The quiet machine described, with a started instance, for one benchmark. When either can't be
// had, plugin is null and the benchmark has been told to skip, with the reason.
struct quiet_instance {
    explicit quiet_instance(benchmark::State& state);
    std::unique_ptr<machine_info> info;
    std::unique_ptr<started_instance> started;
    host_plugin* plugin = nullptr;
};

// One block of count samples to render: both inputs at one level, two outputs.
struct render_buffers {
    explicit render_buffers(int count, float level = 0.25f)
        : in(static_cast<std::size_t>(count), level), left(in.size()), right(in.size()) {}
    bool render(host_plugin& plugin) {
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {left.data(), right.data()};
        return plugin.render(inputs, outputs, static_cast<int>(in.size()), 3);
    }
    std::vector<float> in, left, right;
};

// A temporary folder tree of copies of the quiet machine, removed with the object.
class machine_tree {
public:
    machine_tree(int folders, int files_per_folder);
    ~machine_tree();
    machine_tree(const machine_tree&) = delete;
    machine_tree& operator=(const machine_tree&) = delete;

    const std::string& root() const { return root_; }
    const std::vector<std::string>& files() const { return files_; } // every machine's path

private:
    std::string root_;
    std::vector<std::string> files_;
};

} // namespace kestrune::bench
