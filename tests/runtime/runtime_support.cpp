#include "tests/runtime/runtime_support.h"

#include <cstring>

#include "platform/module.h"
#include "tests/support/test_paths.h"

namespace kestrune::test {

logging_fixture::logging_fixture(const std::string& name) : path_(fixture_path(name + ".dll")) {
    library_ = platform::load_library(path_.c_str());
    auto control = reinterpret_cast<fixture_control_function>(
        platform::find_export(library_, FIXTURE_CONTROL_EXPORT));
    if (control != nullptr) {
        state_ = control();
        std::memset(state_, 0, sizeof *state_); // the DLL's state outlives a test
    }
}

logging_fixture::~logging_fixture() {
    platform::free_library(library_);
}

std::string logging_fixture::take_log() {
    std::string log(state_->log, static_cast<std::size_t>(state_->log_length));
    state_->log_length = 0;
    state_->log[0] = '\0';
    return log;
}

std::unique_ptr<machine_info> logging_fixture::describe() {
    auto get_info =
        reinterpret_cast<get_info_function>(platform::find_export(library_, get_info_export));
    if (get_info == nullptr) {
        return nullptr;
    }
    const machine_description* description = get_info();
    take_log();
    if (description == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<machine_info>(
        build_machine_info(*description, path_.c_str(), make_machine_plugin));
}

std::unique_ptr<machine_info> describe_library(const std::string& path) {
    platform::module_handle library = platform::load_library(path.c_str());
    auto get_info =
        reinterpret_cast<get_info_function>(platform::find_export(library, get_info_export));
    const machine_description* description = get_info != nullptr ? get_info() : nullptr;
    std::unique_ptr<machine_info> info(
        description != nullptr ? build_machine_info(*description, path.c_str(), make_machine_plugin)
                               : nullptr);
    platform::free_library(library);
    return info;
}

void recording_machine::set_parameter(int index, int value) {
    log += "set_parameter " + std::to_string(index) + " " + std::to_string(value) + "\n";
}

void recording_machine::sequence_event(int channel, int note, int instrument, int command,
                                       int parameter) {
    log += "sequence_event " + std::to_string(channel) + " " + std::to_string(note) + " " +
           std::to_string(instrument) + " " + std::to_string(command) + " " +
           std::to_string(parameter) + "\n";
}

bool recording_machine::describe(char* text, int index, int value) {
    log += "describe " + std::to_string(index) + " " + std::to_string(value) + "\n";
    std::strcpy(text, describe_text.c_str());
    return describe_answer;
}

void recording_machine::load_data(unsigned char* buffer) {
    log += "load_data\n";
    loaded.assign(buffer, buffer + load_bytes);
}

void recording_machine::dump_data(unsigned char* buffer) {
    log += "dump_data\n";
    for (int i = 0; i < size; ++i) {
        buffer[i] = static_cast<unsigned char>(0xA0 + i);
    }
}

int recording_machine::data_size() {
    log += "data_size\n";
    return size;
}

std::unique_ptr<machine_info> description_with(const std::vector<int>& kinds, bool generator) {
    auto info = std::make_unique<machine_info>();
    info->make_plugin = make_machine_plugin;
    if (!info->make_lists(kinds.size(), generator ? 2 : 0))
        return nullptr;
    std::size_t index = 0;
    for (int kind : kinds) {
        auto* param = new host_parameter{};
        param->kind = kind;
        param->lowest = 0;
        param->highest = kind == 3 ? 65534 : 254;
        param->empty_value = kind == 3 ? 65535 : 255;
        info->set_global_param(index++, param);
    }
    if (generator) {
        info->set_track_param(0, new host_parameter{0, "Note", "Note", 1, 156, 0, 4, 0});
        info->set_track_param(
            1, new host_parameter{3, "Note Command", "Note Command", 1, 65535, 0, 0, 65535});
    }
    info->library_path = "no such machine.dll";
    return info;
}

} // namespace kestrune::test
