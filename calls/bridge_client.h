// The host side of an instance whose machine runs in a bridge process of its own
// (kestrune-bridge beside the library): the same machine calls as guarded_machine makes in
// process, each carried across the process line (bridge_protocol.h) and answered by the bridge,
// which makes the call inside its own guard. The instance keeps all else on its side.
//
// A call that isn't answered within its deadline, and a bridge process that ends during a call,
// are faults like any other: the process is ended (killed, or reaped) and fault() tells the call
// and the cause. The wait spins briefly on the shared block, then sleeps on the channel, which
// also wakes it at once when the process dies. A message box that the machine shows during a
// call is shown here, through the instance's callback, while the call waits; the time it is up
// doesn't count against the deadline.
//
// Nothing here allocates or throws after start, so the audio path may use it; a render larger
// than the block grows the block (a system call, no heap).
#pragma once

#include <cstdint>

#include "calls/bridge_protocol.h"
#include "calls/machine_fault.h"
#include "calls/parameter_ranges.h"
#include "machine/machine_interface.h"
#include "platform/process.h"

namespace kestrune {

class bridge_client {
public:
    // Tempo answers and message boxes come from instance, the callback that a machine in process
    // would have had.
    explicit bridge_client(machine_host_callback& instance) noexcept : instance_(&instance) {}
    ~bridge_client() { end(); }
    bridge_client(const bridge_client&) = delete;
    bridge_client& operator=(const bridge_client&) = delete;

    enum class start_result {
        cant_start, // no bridge program, or it can't be run: nothing was done
        no_machine, // the bridge runs, but its DLL, "GetInfo", a description, "CreateMachine"
                    // or a machine is missing; the process is ended again
        faulted,    // "GetInfo" or "CreateMachine" faulted: see fault()
        running,    // a machine was created, not yet started
    };
    // Ends whatever process ran before, starts a bridge for the machine DLL at path, reads its
    // description's ranges (at most capacity, into ranges; copied tells how many) and creates
    // its machine. Not for the audio path.
    start_result start(const char* path, parameter_range* ranges, int capacity,
                       int& copied) noexcept;

    // Takes over a bridge started elsewhere, as start does once the bridge is ready: its
    // process (whose id may be one this process can't end: then it is only let go), our end of
    // its channel and the block. Then describe_and_create reads its ranges and creates its
    // machine. For tests, and the fuzzer that plays a bridge.
    void adopt(const platform::child_process& child, const platform::shared_block& block) noexcept;
    start_result describe_and_create(parameter_range* ranges, int capacity, int& copied) noexcept;
    // Every deadline counts in units of this many microseconds a second (a million): the fuzzer
    // plays a bridge that doesn't answer in milliseconds.
    void set_second(unsigned long long microseconds) noexcept { second_ = microseconds; }

    // Whether a machine answers in a bridge now: false before start, after a fault or end.
    bool running() const noexcept { return child_.id != 0; }
    // The fault that ended the process last; its call is null when none did.
    const machine_fault& fault() const noexcept { return fault_; }

    // The machine's operations, as guarded_machine's: true when the machine returned; false
    // when it faulted (fault() says how; the process is gone) or nothing could be called.
    bool start_up() noexcept;
    bool load_data(const unsigned char* buffer, int size) noexcept;
    bool set_parameter(int index, int value) noexcept;
    bool sequence_event(int channel, int note, int instrument, int command, int parameter) noexcept;
    bool render_block(float* left, float* right, int count, int tracks) noexcept;
    bool silence() noexcept;
    bool data_size(int& size) noexcept;
    bool dump_data(unsigned char* buffer, int size) noexcept;
    bool user_command() noexcept;
    bool mute_channel(int index) noexcept;
    bool channel_muted(int index, bool& muted) noexcept;
    bool midi_in(int channel, int value, int velocity) noexcept;
    bool describe(char* text, int index, int value, bool& described) noexcept;
    // Destroys the machine (what that raises or how long it takes is no fault), then ends the
    // process.
    void destroy() noexcept;
    // Ends the process at once, if one runs, and frees the block.
    void end() noexcept;

private:
    bridge::header& shared() noexcept { return bridge::header_of(block_.base); }
    // Makes the payload hold at least bytes; false when the block can't grow.
    bool reserve(std::size_t bytes) noexcept;
    // One request with its arguments; true when the bridge answered "returned". A fault, a
    // deadline passed and a process that ended are recorded, and the process is gone then.
    bool call(bridge::op operation, std::int32_t a = 0, std::int32_t b = 0, std::int32_t c = 0,
              std::int32_t d = 0, std::int32_t e = 0) noexcept;
    // Makes the request written into the header the next one, waking the bridge when it sleeps;
    // answers its number.
    std::uint32_t publish() noexcept;
    // Waits for the answer to request number, serving message boxes meanwhile; false when the
    // fault is recorded.
    bool await(std::uint32_t number, bridge::op operation) noexcept;
    // Records a call that got no answer by deadline (a time on the monotonic clock), or whose
    // process ended, and ends the process.
    void fail(bridge::op operation, int deadline_seconds, bool ended,
              unsigned long long deadline) noexcept;
    // Records an answer out of its range as a fault of the call, and ends the process.
    void bad_answer(bridge::op operation) noexcept;

    // The answer to the last request, as read from the block once and checked here.
    struct answer_fields {
        std::int32_t outcome = 0;
        std::int32_t result = 0;
        std::uint32_t fault_code = 0;
    };

    machine_host_callback* instance_;
    platform::child_process child_;
    platform::shared_block block_;
    // The block before it moved to a new section (Windows), until the bridge has heard of the
    // move in it with the next request.
    platform::shared_block moved_from_;
    std::uint32_t requests_ = 0; // the number of the last request
    bool bridge_awake_ = false;  // the bridge was still spinning when it was made: worth a spin
    machine_fault fault_;
    answer_fields answer_;
    unsigned long long second_ = 1000000;
    // A message box's texts, copied out of the block before they are shown.
    char message_text_[bridge::message_text_size] = {};
    char message_caption_[bridge::message_caption_size] = {};
};

} // namespace kestrune
