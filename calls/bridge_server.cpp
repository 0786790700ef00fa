#include "calls/bridge_server.h"

#include <cstring>
#include <memory>
#include <new>

#include "calls/bridge_protocol.h"
#include "calls/guarded_machine.h"
#include "calls/parameter_ranges.h"
#include "platform/module.h"
#include "platform/process.h"

namespace kestrune {

namespace {

// How long the bridge spins for the next request after an answer before it sleeps on the
// channel: blocks come back to back only in a busy host, so this stays short.
constexpr unsigned long long spin_microseconds = 100;

using bridge::op;
using bridge::status;

class server;

// The machine's callback: the four queries from the values of the call in progress (or the
// last one), and message boxes across to the host, while a call is in progress on the serving
// thread; from any other thread, or between calls, no box is shown.
class bridge_callback final : public machine_host_callback {
public:
    explicit bridge_callback(server& owner) : owner_(&owner) {}
    int message(const char* text, const char* caption, unsigned type) noexcept override;
    int tick_length() noexcept override;
    int sample_rate() noexcept override;
    int tempo() noexcept override;
    int beat_ticks() noexcept override;

private:
    server* owner_;
};

thread_local bool serving_call = false; // on the thread that makes the host's calls, in one

class server {
public:
    server(const char* path, const platform::bridge_handles& handed)
        : path_(path), link_(handed.link), callback_(*this) {}

    bool map(platform::os_handle handle, std::size_t size) {
        return platform::map_shared_block(block_, handle, size);
    }

    // Until the host closes the channel.
    int run() {
        if (!platform::end_with_channel(link_)) {
            return 2;
        }
        header().ready.store(1, std::memory_order_seq_cst);
        answered();
        for (;;) {
            if (!next_request()) {
                return 0;
            }
            std::size_t wanted = header().block_size;
            if (wanted > block_.size && !map(header().block_handle, wanted)) {
                answer(status::no_machine);
                continue;
            }
            serving_call = true;
            status outcome = serve(static_cast<op>(header().operation));
            serving_call = false;
            answer(outcome);
        }
    }

    // A message box during a call: asks the host, and waits for its answer.
    int message(const char* text, const char* caption, unsigned type) {
        bridge::header& h = header();
        bridge::copy_text(h.message_text, sizeof h.message_text, text);
        bridge::copy_text(h.message_caption, sizeof h.message_caption, caption);
        h.message_type = type;
        answer(status::message);
        if (!next_request()) {
            return 0; // the host is gone, and the channel's watch ends this process
        }
        return header().result;
    }

    bridge::header& header() { return bridge::header_of(block_.base); }

private:
    // Waits for a request after the last one: spins briefly, then sleeps on the channel. False
    // when the channel closed.
    bool next_request() {
        bridge::header& h = header();
        unsigned long long spin_end = platform::monotonic_microseconds() + spin_microseconds;
        for (;;) {
            std::uint32_t number = h.request.load(std::memory_order_acquire);
            if (number != current_) {
                current_ = number;
                return true;
            }
            if (platform::monotonic_microseconds() < spin_end) {
                platform::spin_pause();
                continue;
            }
            h.bridge_asleep.store(1, std::memory_order_seq_cst);
            if (h.request.load(std::memory_order_seq_cst) != current_) {
                h.bridge_asleep.store(0, std::memory_order_relaxed);
                continue;
            }
            if (platform::wait_channel(link_, -1) == platform::channel_wait::closed) {
                return false;
            }
        }
    }

    void answer(status outcome) {
        bridge::header& h = header();
        h.outcome = static_cast<std::int32_t>(outcome);
        h.answer.store(current_, std::memory_order_seq_cst);
        answered();
    }

    void answered() {
        if (header().host_asleep.exchange(0, std::memory_order_seq_cst) != 0) {
            platform::wake_channel(link_);
        }
    }

    // What a guarded call's answer means to the host.
    status ended(bool returned) {
        if (returned) {
            return status::returned;
        }
        if (machine_.faulted()) {
            header().fault_code = machine_.fault.code;
            return status::faulted;
        }
        return status::no_machine;
    }

    bool fits(std::int32_t bytes) const {
        return bytes >= 0 &&
               bridge::payload_offset + static_cast<std::size_t>(bytes) <= block_.size;
    }

    status serve(op operation);
    status get_info(int capacity);
    status create();
    status state_in(std::int32_t offset, std::int32_t bytes, std::int32_t total);
    status load_data(std::int32_t total);
    status dump_data(std::int32_t size);
    status state_out(std::int32_t offset, std::int32_t bytes);

    const char* path_;
    platform::channel link_;
    platform::shared_block block_;
    platform::module_handle library_ = nullptr;
    guarded_machine machine_;
    bridge_callback callback_;
    std::uint32_t current_ = 0; // the request in progress, or answered last
    // A state on its way in (gathered by state_in for load_data) or out (written by dump_data,
    // fetched by state_out); freed once it has crossed.
    std::unique_ptr<unsigned char[]> state_;
    std::int32_t state_size_ = 0;
};

status server::get_info(int capacity) {
    if (library_ != nullptr || capacity < 0 ||
        !fits(static_cast<std::int32_t>(bridge::range_bytes(capacity)))) {
        return status::no_machine;
    }
    library_ = platform::load_library(path_, &machine_.fp);
    auto get_info =
        reinterpret_cast<get_info_function>(platform::find_export(library_, get_info_export));
    if (get_info == nullptr) {
        return status::no_machine;
    }
    std::unique_ptr<parameter_range[]> ranges(
        capacity > 0 ? new (std::nothrow) parameter_range[static_cast<std::size_t>(capacity)]
                     : nullptr);
    if (capacity > 0 && ranges == nullptr) {
        return status::no_machine;
    }
    bool described = false;
    int copied = 0;
    auto read = [&](const machine_description* description) {
        described = description != nullptr;
        if (described) {
            copied = copy_ranges(*description, ranges.get(), capacity);
        }
    };
    if (!machine_.get_info(get_info, read)) {
        return ended(false);
    }
    if (!described) {
        return status::no_machine;
    }
    auto* records = reinterpret_cast<bridge::range_record*>(bridge::payload_of(block_.base));
    for (int i = 0; i < copied; ++i) {
        records[i] =
            bridge::range_record{ranges[i].lowest, ranges[i].highest, ranges[i].present ? 1 : 0};
    }
    header().result = copied;
    return status::returned;
}

status server::create() {
    auto create_machine = reinterpret_cast<create_machine_function>(
        platform::find_export(library_, create_machine_export));
    if (create_machine == nullptr || machine_.running()) {
        return status::no_machine;
    }
    bool made = machine_.create(create_machine, &callback_);
    return made && machine_.target == nullptr ? status::no_machine : ended(made);
}

status server::state_in(std::int32_t offset, std::int32_t bytes, std::int32_t total) {
    if (offset == 0) {
        state_.reset(total > 0 ? new (std::nothrow) unsigned char[static_cast<std::size_t>(total)]
                               : nullptr);
        state_size_ = state_ != nullptr ? total : 0;
    }
    if (state_ == nullptr || total != state_size_ || offset < 0 || bytes <= 0 || !fits(bytes) ||
        offset > state_size_ - bytes) {
        state_.reset();
        state_size_ = 0;
        return status::no_machine;
    }
    std::memcpy(state_.get() + offset, bridge::payload_of(block_.base),
                static_cast<std::size_t>(bytes));
    return status::returned;
}

status server::load_data(std::int32_t total) {
    if (state_ == nullptr || total != state_size_) {
        return status::no_machine;
    }
    status outcome = ended(machine_.load_data(state_.get(), total));
    state_.reset();
    state_size_ = 0;
    return outcome;
}

status server::dump_data(std::int32_t size) {
    state_.reset(size > 0 ? new (std::nothrow) unsigned char[static_cast<std::size_t>(size)]()
                          : nullptr);
    state_size_ = state_ != nullptr ? size : 0;
    if (state_ == nullptr) {
        return status::no_machine; // no room: the store fails, never a short blob
    }
    return ended(machine_.dump_data(state_.get(), size));
}

status server::state_out(std::int32_t offset, std::int32_t bytes) {
    if (state_ == nullptr || offset < 0 || bytes <= 0 || !fits(bytes) ||
        offset > state_size_ - bytes) {
        return status::no_machine;
    }
    std::memcpy(bridge::payload_of(block_.base), state_.get() + offset,
                static_cast<std::size_t>(bytes));
    if (offset + bytes == state_size_) {
        state_.reset();
        state_size_ = 0;
    }
    return status::returned;
}

status server::serve(op operation) {
    bridge::header& h = header();
    const std::int32_t* a = h.args;
    unsigned char* payload = bridge::payload_of(block_.base);
    switch (operation) {
    case op::get_info:
        return get_info(a[0]);
    case op::create:
        return create();
    case op::start_up:
        return ended(machine_.start_up());
    case op::state_in:
        return state_in(a[0], a[1], a[2]);
    case op::load_data:
        return load_data(a[0]);
    case op::set_parameter:
        return ended(machine_.set_parameter(a[0], a[1]));
    case op::sequence_event:
        return ended(machine_.sequence_event(a[0], a[1], a[2], a[3], a[4]));
    case op::render_block: {
        if (!fits(static_cast<std::int32_t>(bridge::audio_bytes(a[0])))) {
            return status::no_machine;
        }
        auto* left = reinterpret_cast<float*>(payload);
        return ended(machine_.render_block(left, left + (a[0] > 0 ? a[0] : 0), a[0], a[1]));
    }
    case op::silence:
        return ended(machine_.silence());
    case op::data_size: {
        int size = 0;
        bool returned = machine_.data_size(size);
        h.result = size;
        return ended(returned);
    }
    case op::dump_data:
        return dump_data(a[0]);
    case op::state_out:
        return state_out(a[0], a[1]);
    case op::user_command:
        return ended(machine_.user_command());
    case op::mute_channel:
        return ended(machine_.mute_channel(a[0]));
    case op::channel_muted: {
        bool muted = false;
        bool returned = machine_.channel_muted(a[0], muted);
        h.result = muted ? 1 : 0;
        return ended(returned);
    }
    case op::midi_in:
        return ended(machine_.midi_in(a[0], a[1], a[2]));
    case op::describe: {
        bool described = false;
        bool returned = machine_.describe(h.text, a[0], a[1], described);
        h.result = described ? 1 : 0;
        return ended(returned);
    }
    case op::destroy:
        machine_.destroy(reinterpret_cast<delete_machine_function>(
            platform::find_export(library_, delete_machine_export)));
        return status::returned;
    default:
        return status::no_machine;
    }
}

int bridge_callback::message(const char* text, const char* caption, unsigned type) noexcept {
    return serving_call ? owner_->message(text, caption, type) : 0;
}

int bridge_callback::tick_length() noexcept {
    return owner_->header().samples_per_tick;
}

int bridge_callback::sample_rate() noexcept {
    return owner_->header().samples_per_second;
}

int bridge_callback::tempo() noexcept {
    return owner_->header().beats_per_minute;
}

int bridge_callback::beat_ticks() noexcept {
    return owner_->header().ticks_per_beat;
}

} // namespace

int serve_bridge(const char* path, std::size_t block_size, const char* host_folder,
                 const char* handles) noexcept {
    platform::bridge_handles handed;
    // What the bridge was handed is its own alone, before its machine can start a process; and
    // the machine's DLLs are found as in the host's process.
    if (path == nullptr || !platform::read_bridge_handles(handles, handed) ||
        !platform::keep_from_children(handed) || !platform::search_dlls_in(host_folder)) {
        return 2;
    }
    // Lives until the process ends: a machine's own threads may still call its callback.
    static server* const serving = new (std::nothrow) server(path, handed);
    if (serving == nullptr || block_size < bridge::payload_offset ||
        !serving->map(handed.block, block_size)) {
        return 2;
    }
    return serving->run();
}

} // namespace kestrune
