#include "calls/bridge_client.h"

#include <algorithm>
#include <cstring>

#include "calls/child_line.h"
#include "calls/guarded_machine.h"
#include "platform/process.h"

namespace kestrune {

static_assert(bridge::text_size == text_buffer_size,
              "describe's text crosses whole: the block holds the instance's buffer");

namespace {

// How long the host spins on the shared block before it sleeps on the channel: long enough for
// a short call (a render of a few hundred samples of a light machine) to come back without a
// wake-up, short enough not to keep the bridge off a busy machine's processors (with both cores
// taken by other work, a back-to-back render took 78 us with a 50 us spin, 25 to 32 us with
// 10 us). Only when the bridge was awake: a bridge woken from its sleep is often put on the
// waker's own processor (the scheduler's wake-affine choice), where a spinning host would keep
// it from running, so then the host sleeps at once (a render after a pause: 174 us with a 50 us
// spin, 24 us without, on the quiet machine).
constexpr unsigned long long spin_microseconds = 10;

} // namespace

// --- Start and end --------------------------------------------------------------------------

bridge_client::start_result bridge_client::start(const char* path, parameter_range* ranges,
                                                 int capacity, int& copied) noexcept {
    end();
    fault_ = machine_fault{};
    copied = 0;
    std::size_t size = bridge::block_size_for(bridge::audio_bytes(bridge::initial_samples) >
                                                      bridge::range_bytes(capacity)
                                                  ? bridge::audio_bytes(bridge::initial_samples)
                                                  : bridge::range_bytes(capacity));
    if (path == nullptr || size == 0 || !platform::create_shared_block(block_, size)) {
        return start_result::cant_start;
    }
    shared().block_size = static_cast<std::uint32_t>(block_.size);
    if (!start_helper(path, block_, child_)) {
        end();
        return start_result::cant_start;
    }
    // A bridge that never gets ready (missing, refused, or it ended at once) can't be started.
    unsigned long long deadline =
        platform::monotonic_microseconds() +
        second_ * static_cast<unsigned>(bridge::deadline_seconds(bridge::op::start_up));
    shared().block_handle = static_cast<std::int32_t>(child_.block);
    if (wait_for_helper(shared().ready, 1, child_.link, deadline, &shared().host_asleep) !=
        platform::channel_wait::woken) {
        end();
        return start_result::cant_start;
    }
    requests_ = 0;
    return describe_and_create(ranges, capacity, copied);
}

void bridge_client::adopt(const platform::child_process& child,
                          const platform::shared_block& block) noexcept {
    end();
    fault_ = machine_fault{};
    child_ = child;
    block_ = block;
    requests_ = 0;
}

bridge_client::start_result bridge_client::describe_and_create(parameter_range* ranges,
                                                               int capacity, int& copied) noexcept {
    copied = 0;
    if (!call(bridge::op::get_info, capacity)) {
        return fault_.call != nullptr ? start_result::faulted : (end(), start_result::no_machine);
    }
    int described = answer_.result;
    if (described < 0 || described > capacity ||
        bridge::range_bytes(described) > block_.size - bridge::payload_offset) {
        bad_answer(bridge::op::get_info);
        return start_result::faulted;
    }
    const auto* records =
        reinterpret_cast<const bridge::range_record*>(bridge::payload_of(block_.base));
    for (int i = 0; i < described; ++i) {
        bridge::range_record record;
        std::memcpy(&record, &records[i], sizeof record); // read once, whatever the bridge does
        ranges[i].lowest = record.lowest;
        ranges[i].highest = record.highest;
        ranges[i].present = record.present != 0;
        copied = i + 1;
    }
    if (!call(bridge::op::create)) {
        return fault_.call != nullptr ? start_result::faulted : (end(), start_result::no_machine);
    }
    return start_result::running;
}

void bridge_client::destroy() noexcept {
    if (running()) {
        call(bridge::op::destroy);
        fault_ = machine_fault{}; // whatever destruction raises is discarded, as in process
    }
    end();
}

void bridge_client::end() noexcept {
    end_helper(child_, block_);
    platform::free_shared_block(moved_from_);
}

// --- One exchange ---------------------------------------------------------------------------

bool bridge_client::reserve(std::size_t bytes) noexcept {
    if (bridge::payload_offset + bytes <= block_.size) {
        return true;
    }
    std::size_t size = bridge::block_size_for(bytes);
    platform::shared_block old;
    if (size == 0 || moved_from_.base != nullptr ||
        !platform::grow_shared_block(block_, size, old)) {
        return false;
    }
    shared().block_size = static_cast<std::uint32_t>(block_.size);
    if (old.base == nullptr) {
        return true; // grown in place
    }
    // A new section: the bridge learns of it in the old one, with the next request.
    platform::os_handle theirs = platform::hand_to_child(child_, block_);
    if (theirs == platform::no_handle) {
        platform::free_shared_block(block_);
        block_ = old;
        return false;
    }
    shared().block_handle = static_cast<std::int32_t>(theirs);
    bridge::header& watched = bridge::header_of(old.base);
    watched.block_handle = shared().block_handle;
    watched.block_size = shared().block_size;
    moved_from_ = old;
    return true;
}

bool bridge_client::call(bridge::op operation, std::int32_t a, std::int32_t b, std::int32_t c,
                         std::int32_t d, std::int32_t e) noexcept {
    if (!running()) {
        return false;
    }
    bridge::header& h = shared();
    h.operation = static_cast<std::int32_t>(operation);
    h.args[0] = a;
    h.args[1] = b;
    h.args[2] = c;
    h.args[3] = d;
    h.args[4] = e;
    h.samples_per_tick = instance_->tick_length();
    h.samples_per_second = instance_->sample_rate();
    h.beats_per_minute = instance_->tempo();
    h.ticks_per_beat = instance_->beat_ticks();
    return await(publish(), operation);
}

std::uint32_t bridge_client::publish() noexcept {
    bridge::header& h = shared();
    std::uint32_t number = ++requests_;
    h.request.store(number, std::memory_order_seq_cst);
    // After a move the bridge still watches the old block, where it finds the new one's handle.
    bridge::header& watched = moved_from_.base != nullptr ? bridge::header_of(moved_from_.base) : h;
    watched.request.store(number, std::memory_order_seq_cst);
    bridge_awake_ = watched.bridge_asleep.exchange(0, std::memory_order_seq_cst) == 0;
    if (!bridge_awake_) {
        platform::wake_channel(child_.link);
    }
    // The bridge keeps its own mapping of the old block until it has moved.
    platform::free_shared_block(moved_from_);
    return number;
}

bool bridge_client::await(std::uint32_t number, bridge::op operation) noexcept {
    int seconds = bridge::deadline_seconds(operation);
    unsigned long long deadline =
        platform::monotonic_microseconds() + second_ * static_cast<unsigned>(seconds);
    for (;;) {
        bridge::header& h = shared();
        platform::channel_wait woke =
            wait_for_helper(h.answer, number, child_.link, deadline, &h.host_asleep,
                            bridge_awake_ ? spin_microseconds : 0);
        if (woke != platform::channel_wait::woken) {
            fail(operation, seconds, woke == platform::channel_wait::closed, deadline);
            return false;
        }
        // Each answer is read from the block once, into this side's own fields, and checked
        // there: the bridge may go on writing the block meanwhile.
        answer_.outcome = h.outcome;
        answer_.result = h.result;
        answer_.fault_code = h.fault_code;
        auto outcome = static_cast<bridge::status>(answer_.outcome);
        if (answer_.outcome < 0 || answer_.outcome > static_cast<int>(bridge::status::message)) {
            bad_answer(operation);
            return false;
        }
        if (outcome != bridge::status::message) {
            if (outcome == bridge::status::faulted) {
                fault_.call = bridge::call_name(operation);
                fault_.code = answer_.fault_code;
                platform::end_child(child_, helper_end_wait_ms); // its machine is abandoned with it
                return false;
            }
            return outcome == bridge::status::returned;
        }
        // The machine waits for its message box; so does the call, and the box's time is not
        // the machine's. Its texts are shown from this side's copies, cut and terminated here.
        unsigned type = h.message_type;
        std::memcpy(message_text_, h.message_text, sizeof message_text_);
        std::memcpy(message_caption_, h.message_caption, sizeof message_caption_);
        message_text_[sizeof message_text_ - 1] = '\0';
        message_caption_[sizeof message_caption_ - 1] = '\0';
        unsigned long long shown = platform::monotonic_microseconds();
        int reply = instance_->message(message_text_, message_caption_, type);
        deadline += platform::monotonic_microseconds() - shown;
        h.result = reply; // a re-entrant call meanwhile reached nothing: h is still the block
        h.operation = static_cast<std::int32_t>(bridge::op::message_reply);
        number = publish();
    }
}

void bridge_client::fail(bridge::op operation, int deadline_seconds, bool ended,
                         unsigned long long deadline) noexcept {
    fault_.call = bridge::call_name(operation);
    // Ending the process counts within the call's deadline, with a moment more for the kill
    // itself once the deadline has passed.
    unsigned long long now = platform::monotonic_microseconds();
    int left = now < deadline ? static_cast<int>((deadline - now) / 1000) : 0;
    int wait_ms = left > helper_end_wait_ms ? left : helper_end_wait_ms;
    if (ended) {
        fault_.process_ended = true;
        // Killed all the same: a machine that closed the channel itself may still run, and a
        // process already ended keeps its exit code.
        fault_.exit_code = platform::end_child(child_, wait_ms);
    } else {
        fault_.deadline_seconds = deadline_seconds;
        platform::end_child(child_, helper_end_wait_ms);
    }
}

void bridge_client::bad_answer(bridge::op operation) noexcept {
    fault_.call = bridge::call_name(operation);
    fault_.bad_answer = true;
    platform::end_child(child_, helper_end_wait_ms);
}

// --- The machine's operations ---------------------------------------------------------------

bool bridge_client::start_up() noexcept {
    return call(bridge::op::start_up);
}

bool bridge_client::load_data(const unsigned char* buffer, int size) noexcept {
    if (size <= 0 || !running()) {
        return false; // as a state whose block can't be had: nothing is restored
    }
    // In pieces of the payload's size: the block keeps its working size, whatever the state's.
    std::size_t piece = block_.size - bridge::payload_offset;
    for (std::size_t offset = 0; offset < static_cast<std::size_t>(size); offset += piece) {
        std::size_t bytes = std::min(piece, static_cast<std::size_t>(size) - offset);
        std::memcpy(bridge::payload_of(block_.base), buffer + offset, bytes);
        if (!call(bridge::op::state_in, static_cast<std::int32_t>(offset),
                  static_cast<std::int32_t>(bytes), size)) {
            return false;
        }
    }
    return call(bridge::op::load_data, size);
}

bool bridge_client::set_parameter(int index, int value) noexcept {
    return call(bridge::op::set_parameter, index, value);
}

bool bridge_client::sequence_event(int channel, int note, int instrument, int command,
                                   int parameter) noexcept {
    return call(bridge::op::sequence_event, channel, note, instrument, command, parameter);
}

bool bridge_client::render_block(float* left, float* right, int count, int tracks) noexcept {
    if (!running() || !reserve(bridge::audio_bytes(count))) {
        return false;
    }
    std::size_t bytes = bridge::audio_bytes(count) / 2;
    auto* samples = reinterpret_cast<float*>(bridge::payload_of(block_.base));
    if (bytes > 0) {
        std::memcpy(samples, left, bytes);
        std::memcpy(samples + count, right, bytes);
    }
    if (!call(bridge::op::render_block, count, tracks)) {
        return false;
    }
    if (bytes > 0) {
        std::memcpy(left, samples, bytes);
        std::memcpy(right, samples + count, bytes);
    }
    return true;
}

bool bridge_client::silence() noexcept {
    return call(bridge::op::silence);
}

bool bridge_client::data_size(int& size) noexcept {
    if (!call(bridge::op::data_size)) {
        return false;
    }
    size = answer_.result;
    return true;
}

bool bridge_client::dump_data(unsigned char* buffer, int size) noexcept {
    if (size <= 0 || !running() || !call(bridge::op::dump_data, size)) {
        return false;
    }
    std::size_t piece = block_.size - bridge::payload_offset;
    for (std::size_t offset = 0; offset < static_cast<std::size_t>(size); offset += piece) {
        std::size_t bytes = std::min(piece, static_cast<std::size_t>(size) - offset);
        if (!call(bridge::op::state_out, static_cast<std::int32_t>(offset),
                  static_cast<std::int32_t>(bytes))) {
            return false;
        }
        std::memcpy(buffer + offset, bridge::payload_of(block_.base), bytes);
    }
    return true;
}

bool bridge_client::user_command() noexcept {
    return call(bridge::op::user_command);
}

bool bridge_client::mute_channel(int index) noexcept {
    return call(bridge::op::mute_channel, index);
}

bool bridge_client::channel_muted(int index, bool& muted) noexcept {
    if (!call(bridge::op::channel_muted, index)) {
        return false;
    }
    if (answer_.result != 0 && answer_.result != 1) {
        bad_answer(bridge::op::channel_muted);
        return false;
    }
    muted = answer_.result != 0;
    return true;
}

bool bridge_client::midi_in(int channel, int value, int velocity) noexcept {
    return call(bridge::op::midi_in, channel, value, velocity);
}

bool bridge_client::describe(char* text, int index, int value, bool& described) noexcept {
    if (!running()) {
        return false;
    }
    std::memcpy(shared().text, text, bridge::text_size);
    if (!call(bridge::op::describe, index, value)) {
        return false;
    }
    if (answer_.result != 0 && answer_.result != 1) {
        bad_answer(bridge::op::describe);
        return false;
    }
    std::memcpy(text, shared().text, bridge::text_size);
    text[bridge::text_size - 1] = '\0';
    described = answer_.result != 0;
    return true;
}

} // namespace kestrune
