#include "calls/bridge_protocol.h"

#include <cstring>

namespace kestrune::bridge {

const char* call_name(op operation) noexcept {
    switch (operation) {
    case op::get_info:
        return "GetInfo";
    case op::create:
        return "CreateMachine";
    case op::start_up:
        return "start_up";
    case op::load_data:
    case op::state_in:
        return "load_data";
    case op::set_parameter:
        return "set_parameter";
    case op::sequence_event:
        return "sequence_event";
    case op::render_block:
        return "render_block";
    case op::silence:
        return "silence";
    case op::data_size:
        return "data_size";
    case op::dump_data:
    case op::state_out:
        return "dump_data";
    case op::user_command:
        return "user_command";
    case op::mute_channel:
        return "mute_channel";
    case op::channel_muted:
        return "channel_muted";
    case op::midi_in:
        return "midi_in";
    case op::describe:
        return "describe";
    case op::destroy:
        return "destroy";
    default:
        return nullptr;
    }
}

int deadline_seconds(op operation) noexcept {
    switch (operation) {
    case op::render_block:
    case op::set_parameter:
    case op::sequence_event:
    case op::silence:
    case op::midi_in:
        return 2;
    case op::start_up:
    case op::load_data:
    case op::state_in:
        return 10;
    default:
        return 30;
    }
}

std::size_t block_size_for(std::size_t payload) noexcept {
    constexpr std::size_t step = std::size_t{64} * 1024;
    constexpr std::size_t largest = 0xFFFF0000u; // the largest whole step in 32 bits
    if (payload > largest - payload_offset) {
        return 0;
    }
    return (payload_offset + payload + step - 1) / step * step;
}

void copy_text(char* field, std::size_t size, const char* text) noexcept {
    if (size == 0) {
        return;
    }
    std::size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length >= size) {
        length = size - 1;
    }
    if (length > 0) {
        std::memcpy(field, text, length);
    }
    field[length] = '\0';
}

} // namespace kestrune::bridge
