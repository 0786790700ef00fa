// What the runtime's tests share: a logging fixture machine reached through its own DLL, the
// description built from it, an archive in memory, and a machine of the test's own that records
// its calls.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/host_interface.h"
#include "hostkit/memory_archive.h"
#include "machine/machine_info.h"
#include "platform/module.h"
#include "runtime/machine_plugin.h"
#include "tests/fixtures/runtime/fixture_control.h"
#include "tools/hostkit/hostkit/built_machine.h"

namespace kestrune::test {

// One of the logging fixtures (bin/fixtures/NAME.dll), loaded by the test itself so that its
// log and settings stay reachable while instances load and free it.
class logging_fixture {
public:
    explicit logging_fixture(const std::string& name);
    ~logging_fixture();
    logging_fixture(const logging_fixture&) = delete;
    logging_fixture& operator=(const logging_fixture&) = delete;

    bool loaded() const { return state_ != nullptr; }
    const std::string& path() const { return path_; }
    fixture_state& state() { return *state_; }

    // The log since the last take_log, and clears it.
    std::string take_log();
    // The description the scan would build from this DLL (GetInfo's call is not logged).
    std::unique_ptr<machine_info> describe();

private:
    std::string path_;
    platform::module_handle library_ = nullptr;
    fixture_state* state_ = nullptr;
};

// An instance of a fixture, made from a description and released at the end of the scope.
struct instance {
    explicit instance(machine_info& info)
        : plugin(static_cast<machine_plugin*>(info.make_instance())) {}
    ~instance() {
        if (plugin != nullptr) {
            plugin->release();
        }
    }
    instance(const instance&) = delete;
    instance& operator=(const instance&) = delete;
    void release() {
        plugin->release();
        plugin = nullptr;
    }
    machine_plugin* operator->() const { return plugin; }
    machine_plugin* plugin;
};

// The host kit's archive in memory: what store_state writes, and what start reads back.
using hostkit::memory_archive;

// A machine of the test's own that records its calls as lines, like the logging fixtures.
class recording_machine final : public hostkit::built_machine<recording_machine> {
public:
    void set_parameter(int index, int value) override;
    void sequence_event(int channel, int note, int instrument, int command, int parameter) override;
    bool describe(char* text, int index, int value) override;
    void load_data(unsigned char* buffer) override;
    void dump_data(unsigned char* buffer) override;
    int data_size() override;

    std::string log;
    bool describe_answer = false;
    std::string describe_text;
    int size = 0;                      // data_size's answer
    std::vector<unsigned char> loaded; // the first load_bytes bytes load_data got
    int load_bytes = 0;
};

// The description the scan would build of the machine DLL at path, which is loaded for it and
// freed again; null when it has none.
std::unique_ptr<machine_info> describe_library(const std::string& path);

// A description made in the test: one global parameter per kind, in order, and the track
// parameters of a generator when generator is set.
std::unique_ptr<machine_info> description_with(const std::vector<int>& kinds, bool generator);

} // namespace kestrune::test
