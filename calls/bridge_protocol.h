// What the host side of an isolated instance and its bridge process (kestrune-bridge) share: one
// block of memory per instance, a header at its start and a payload after it. Each machine call
// is one exchange: the host writes the operation, its arguments and the four tempo values the
// machine may ask for meanwhile, then a new request number; the bridge makes the call inside its
// own guard, writes how it ended and the answers, then the same number as its answer. A machine
// that shows a message box during a call makes the one exchange the other way round: the bridge
// answers the request with the status "message", the host shows the box and requests again with
// op message_reply and the box's answer, and the bridge goes on with the call.
//
// Both sides are the same build of the same code, but the header is laid out in 4-byte fields
// only, so that its layout is fixed: the static_asserts below pin it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace kestrune::bridge {

// The operations, one per machine call that an instance makes.
enum class op : std::int32_t {
    none = 0,
    get_info = 1,       // loads the DLL, calls "GetInfo", copies the ranges (args[0]: room for)
    create = 2,         // calls "CreateMachine" and gives the machine the bridge's callback
    start_up = 3,       //
    load_data = 4,      // args[0]: bytes of state, gathered by state_in before
    set_parameter = 5,  // args: index, value
    sequence_event = 6, // args: channel, note, instrument, command, parameter
    render_block = 7,   // args: count, tracks; the samples in the payload
    silence = 8,        //
    data_size = 9,      // answer in result
    dump_data = 10,     // args[0]: bytes of state the bridge has its machine write into a
                        // zero-filled buffer of its own; they come back with state_out
    user_command = 11,  //
    mute_channel = 12,  // args: index
    channel_muted = 13, // args: index; answer in result (0 or 1)
    midi_in = 14,       // args: channel, value, velocity
    describe = 15,      // args: index, value; text in text; answer in result (0 or 1)
    destroy = 16,       // "DeleteMachine" or the destructor; what it raises is discarded
    message_reply = 17, // the host's answer to a message: the box's result in result
    state_in = 18,      // args: offset, bytes, total: one piece of a state for load_data, in the
                        // payload; the bridge keeps a buffer of total bytes from offset 0 on
    state_out = 19,     // args: offset, bytes: one piece of the state dump_data wrote, into the
                        // payload. A state of any size crosses in pieces of the payload's size,
                        // so the block keeps its working size
    count = 20          // the number of operations
};

// How the bridge ended a request.
enum class status : std::int32_t {
    returned = 0,   // the machine returned
    faulted = 1,    // its guard caught a fault: fault_code says what
    no_machine = 2, // there was nothing to call: no DLL, export, description or machine, or a
                    // request that doesn't fit the block
    message = 3,    // not an end: the machine shows a message box and waits for its answer
};

// The call's name as the guard records it in process ("GetInfo", "render_block", ...); null for
// none and message_reply.
const char* call_name(op operation) noexcept;
// How long the host waits for the bridge to answer op: 2 s for the calls on the audio path
// (render_block, set_parameter, sequence_event, silence, midi_in), 10 s for start_up and
// load_data, 30 s for the rest.
int deadline_seconds(op operation) noexcept;

// One parameter's range as get_info copies it into the payload.
struct range_record {
    std::int32_t lowest;  // the machine's own range, as it described it
    std::int32_t highest; //
    std::int32_t present; // 1: described; 0: its entry was null
};
static_assert(sizeof(range_record) == 12);

constexpr std::size_t text_size = 128;            // describe's text, as the instance's buffer
constexpr std::size_t message_text_size = 1024;   // a message's text, cut to fit
constexpr std::size_t message_caption_size = 256; // a message's caption, cut to fit

struct header {
    std::atomic<std::uint32_t> request;     // host: the number of its latest request, one more each
    std::atomic<std::uint32_t> answer;      // bridge: the request it answered last (or, with status
                                            // message, is asking about); equals request when done
    std::atomic<std::uint32_t> host_asleep; // host: 1 while it waits on the channel, so that
                                            // the bridge writes it a wake-up with its answer
    std::atomic<std::uint32_t> bridge_asleep; // bridge: 1 while it waits on the channel for a
                                              // request, so that the host writes it a wake-up
    std::atomic<std::uint32_t> ready;         // bridge: 1 once it has mapped the block and waits
    std::uint32_t block_size;        // host: the whole block's bytes now; the bridge maps it
                                     // again (block_handle) before a request when this is above
                                     // its mapping
    std::int32_t operation;          // host: the request's op
    std::int32_t args[5];            // host: the call's arguments, in the call's order
    std::int32_t samples_per_tick;   // host: the four answers of the machine's callback
    std::int32_t samples_per_second; //       during the call, as the instance answers them
    std::int32_t beats_per_minute;   //
    std::int32_t ticks_per_beat;     //
    std::int32_t outcome;            // bridge: how the request ended, a status
    std::int32_t result;        // bridge: data_size's answer, channel_muted's and describe's (0 or
                                // 1), the ranges copied by get_info; host: the box's answer
    std::uint32_t fault_code;   // bridge: with status faulted, what its guard caught
    std::uint32_t message_type; // bridge: with status message, the box's type
    char text[text_size];       // describe's text buffer, both ways
    char message_text[message_text_size];       // bridge: with status message, its text...
    char message_caption[message_caption_size]; // ...and caption, each terminated
    std::int32_t block_handle; // host: the block's handle in the bridge's process, which the
                               // bridge maps when block_size is above its mapping (a new
                               // section on Windows; natively the one file, grown)
};
static_assert(sizeof(std::atomic<std::uint32_t>) == 4 &&
              std::atomic<std::uint32_t>::is_always_lock_free);
static_assert(offsetof(header, answer) == 4 && offsetof(header, host_asleep) == 8);
static_assert(offsetof(header, bridge_asleep) == 12 && offsetof(header, ready) == 16);
static_assert(offsetof(header, block_size) == 20 && offsetof(header, operation) == 24);
static_assert(offsetof(header, args) == 28 && offsetof(header, samples_per_tick) == 48);
static_assert(offsetof(header, ticks_per_beat) == 60 && offsetof(header, outcome) == 64);
static_assert(offsetof(header, result) == 68 && offsetof(header, fault_code) == 72);
static_assert(offsetof(header, message_type) == 76 && offsetof(header, text) == 80);
static_assert(offsetof(header, message_text) == 208);
static_assert(offsetof(header, message_caption) == 1232 && offsetof(header, block_handle) == 1488);
static_assert(sizeof(header) == 1492);

// Where the payload starts: after the header, on a 64-byte boundary. It holds, depending on the
// request, the block's samples (count left, then count right), get_info's ranges, or the state.
constexpr std::size_t payload_offset = (sizeof(header) + 63) / 64 * 64;

// The samples a block holds room for when it is made: the largest block size that hosts use.
constexpr int initial_samples = 8192;

// The payload bytes for a render of count samples (none for count 0 or less).
constexpr std::size_t audio_bytes(int count) noexcept {
    return count > 0 ? 2 * static_cast<std::size_t>(count) * sizeof(float) : 0;
}
// The payload bytes for ranges of capacity parameters.
constexpr std::size_t range_bytes(int capacity) noexcept {
    return capacity > 0 ? static_cast<std::size_t>(capacity) * sizeof(range_record) : 0;
}
// The size of a block whose payload holds payload bytes: whole 64 KB steps, so that a block
// grows seldom. Zero when that doesn't fit a block's 32-bit size.
std::size_t block_size_for(std::size_t payload) noexcept;

// Copies text into a field of size bytes, cut to fit and always terminated; null counts as "".
void copy_text(char* field, std::size_t size, const char* text) noexcept;

// The header and payload of a block mapped at base.
inline header& header_of(unsigned char* base) noexcept {
    return *reinterpret_cast<header*>(base);
}
inline unsigned char* payload_of(unsigned char* base) noexcept {
    return base + payload_offset;
}

} // namespace kestrune::bridge
