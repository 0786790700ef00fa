// Plays the bridge against the host's side of an isolated instance. A thread of its own answers
// each request the host makes with whatever the input says: any outcome and result, any bytes in
// the texts, the message fields and the payload, a wrong request number, stray wake-ups, no
// answer at all, or a channel that closes. The host side must never crash, never read or write
// outside its own buffers and the block (the sanitizers watch), hand on only terminated texts
// within their limits, and never wait past a call's deadline.
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "calls/bridge_client.h"
#include "fuzz/fuzz_support.h"
#include "platform/process.h"
#include "runtime/events.h"

using namespace kestrune;

namespace {

// A deadline's second lasts this many microseconds here, so that a call the bridge never answers
// ends in milliseconds.
constexpr unsigned long long second = 200;
constexpr std::size_t block_bytes = std::size_t{128} * 1024;

// The host's callback: message boxes answered at once, their texts checked.
class host_callback final : public machine_host_callback {
public:
    int message(const char* text, const char* caption, unsigned type) noexcept override {
        FUZZ_CHECK(text != nullptr && caption != nullptr);
        FUZZ_CHECK(std::strlen(text) < bridge::message_text_size);
        FUZZ_CHECK(std::strlen(caption) < bridge::message_caption_size);
        return static_cast<int>(type & 7);
    }
};

// The bridge's side: its own mapping of the block and its end of the channel.
class fake_bridge {
public:
    fake_bridge(const std::uint8_t* data, std::size_t size, int handle, int link)
        : in_(data, size), link_{link, link, platform::no_handle} {
        void* base = mmap(nullptr, block_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, handle, 0);
        base_ = base == MAP_FAILED ? nullptr : static_cast<unsigned char*>(base);
    }
    ~fake_bridge() {
        if (base_ != nullptr) {
            munmap(base_, block_bytes);
        }
        close(static_cast<int>(link_.wait));
    }
    bool mapped() const { return base_ != nullptr; }

    // Answers requests until the host closes its end, the input says to close, or stop is set.
    void serve(const std::atomic<bool>& stop) {
        bridge::header& h = bridge::header_of(base_);
        std::uint32_t last = 0;
        while (!stop.load()) {
            std::uint32_t number = h.request.load();
            if (number == last) {
                if (platform::wait_channel(link_, 2) == platform::channel_wait::closed) {
                    return;
                }
                continue;
            }
            last = number;
            if (!answer(h, number)) {
                return;
            }
        }
    }

private:
    void scribble(char* field, std::size_t size) {
        std::vector<std::uint8_t> bytes = in_.ConsumeBytes<std::uint8_t>(size);
        if (!bytes.empty()) {
            std::memcpy(field, bytes.data(), bytes.size());
        }
    }

    void publish(bridge::header& h, std::uint32_t number) {
        h.answer.store(number);
        if (h.host_asleep.exchange(0) != 0) {
            platform::wake_channel(link_);
        }
    }

    // One request's answer as the input says; false: the bridge closes its channel.
    bool answer(bridge::header& h, std::uint32_t number) {
        if (in_.remaining_bytes() == 0) {
            h.outcome = 0;
            publish(h, number);
            return true;
        }
        h.outcome =
            in_.ConsumeBool() ? in_.ConsumeIntegralInRange<int>(0, 3) : fuzz::edge_or_any(in_);
        h.result = fuzz::edge_or_any(in_);
        h.fault_code = in_.ConsumeIntegral<std::uint32_t>();
        h.message_type = in_.ConsumeIntegral<unsigned>();
        switch (in_.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: // a plain answer
            break;
        case 1: // texts without their terminators
            scribble(h.text, sizeof h.text);
            scribble(h.message_text, sizeof h.message_text);
            scribble(h.message_caption, sizeof h.message_caption);
            break;
        case 2: // any bytes in the payload
            scribble(reinterpret_cast<char*>(bridge::payload_of(base_)),
                     in_.ConsumeIntegralInRange<std::size_t>(0, 4096));
            break;
        case 3: // an answer to another request first
            publish(h, number + (in_.ConsumeBool() ? 1u : 0xFFFFFFFFu));
            platform::wake_channel(link_);
            break;
        case 4: // no answer, only wake-ups
            for (int i = in_.ConsumeIntegralInRange<int>(0, 5); i > 0; --i) {
                platform::wake_channel(link_);
            }
            return true;
        case 5: // the bridge ends
            return false;
        case 6: // the answer changes after it was given
            publish(h, number);
            h.outcome = fuzz::edge_or_any(in_);
            h.result = fuzz::edge_or_any(in_);
            scribble(h.message_text, sizeof h.message_text);
            return true;
        default: // nothing now: the host waits out its deadline
            return true;
        }
        publish(h, number);
        return true;
    }

    FuzzedDataProvider in_;
    platform::channel link_;
    unsigned char* base_ = nullptr;
};

// One host call as the input picks it, checked for what it hands back and how long it took.
void host_call(bridge_client& client, FuzzedDataProvider& in) {
    unsigned long long begun = platform::monotonic_microseconds();
    int op = in.ConsumeIntegralInRange<int>(0, 9);
    switch (op) {
    case 0:
        client.start_up();
        break;
    case 1: {
        std::vector<unsigned char> state(in.ConsumeIntegralInRange<std::size_t>(1, 300000), 7);
        client.load_data(state.data(), static_cast<int>(state.size()));
        break;
    }
    case 2: {
        int size = 0;
        if (client.data_size(size) && size > 0 && size <= 300000) {
            std::vector<unsigned char> state(static_cast<std::size_t>(size));
            client.dump_data(state.data(), size);
        }
        break;
    }
    case 3: {
        int count = in.ConsumeIntegralInRange<int>(0, bridge::initial_samples);
        std::vector<float> left(static_cast<std::size_t>(count) + 1), right(left.size());
        client.render_block(left.data(), right.data(), count, 2);
        break;
    }
    case 4: {
        char text[text_buffer_size];
        std::memset(text, 'x', sizeof text);
        bool described = false;
        if (client.describe(text, 0, in.ConsumeIntegral<int>(), described)) {
            FUZZ_CHECK(std::memchr(text, '\0', sizeof text) != nullptr);
        }
        break;
    }
    case 5: {
        bool muted = false;
        client.channel_muted(in.ConsumeIntegral<int>(), muted);
        break;
    }
    case 6:
        client.set_parameter(in.ConsumeIntegral<int>(), in.ConsumeIntegral<int>());
        break;
    case 7:
        client.user_command();
        break;
    case 8:
        client.silence();
        break;
    default:
        client.midi_in(1, 2, 3);
        break;
    }
    // The longest deadline (30 of its seconds) with room for the host's own work and the kill.
    FUZZ_CHECK(platform::monotonic_microseconds() - begun < 30 * second + 400000);
    FUZZ_CHECK(client.running() || client.fault().call != nullptr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first part drives the host, the rest the bridge.
    std::size_t split = std::min<std::size_t>(data[0], size - 1);
    FuzzedDataProvider host_input(data + 1, split);
    platform::shared_block block;
    int ends[2];
    if (!platform::create_shared_block(block, block_bytes)) {
        return 0;
    }
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        platform::free_shared_block(block);
        return 0;
    }
    bridge::header_of(block.base).block_size = static_cast<std::uint32_t>(block.size);
    fake_bridge bridge(data + 1 + split, size - 1 - split, static_cast<int>(block.handle), ends[1]);
    FUZZ_CHECK(bridge.mapped());
    std::atomic<bool> stop{false};
    std::thread serving([&] { bridge.serve(stop); });

    host_callback callback;
    bridge_client client(callback);
    client.set_second(second);
    // Our own process stands in for the bridge's: it is never ours to end, only to let go.
    platform::child_process child;
    child.id = getpid();
    child.link = platform::channel{ends[0], ends[0], platform::no_handle};
    client.adopt(child, block);
    parameter_range ranges[100];
    int copied = -1;
    int capacity = host_input.ConsumeIntegralInRange<int>(0, 100);
    auto started = client.describe_and_create(ranges, capacity, copied);
    FUZZ_CHECK(copied >= 0 && copied <= capacity);
    while (started == bridge_client::start_result::running && client.running() &&
           host_input.remaining_bytes() > 0) {
        host_call(client, host_input);
    }
    stop.store(true);
    client.end(); // closes the host's end, which the bridge hears at once; its mapping is its own
    serving.join();
    return 0;
}
