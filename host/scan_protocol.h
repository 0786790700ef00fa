// What the host and its scanner process (kestrune-bridge --scan) share: one block of memory, a
// header at its start and the answer's bytes after it, and a channel that carries wake-ups. Each
// DLL is one exchange: the host writes its path and a new request number and wakes the scanner;
// the scanner probes the DLL in its own process, writes the outcome and, for a machine, the
// description's record (description_record.h), then the same number as its answer, and wakes the
// host. Both sides always wake the other, so that no wake-up is lost between a look at the block
// and a sleep on the channel.
//
// The scanner's answers are untrusted: the host bounds and checks every one before using it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "host/description_record.h"
#include "platform/files.h"

namespace kestrune::scan {

struct header {
    std::atomic<std::uint32_t> request; // host: the number of its latest request, one more each
    std::atomic<std::uint32_t> answer;  // scanner: the request it answered last
    std::atomic<std::uint32_t> ready;   // scanner: 1 once it has mapped the block and waits
    std::atomic<std::uint32_t> taken;   // scanner: the request whose DLL it probes now: a
                                        // scanner that ends before it took one blames no DLL
    std::int32_t outcome;               // scanner: a probe_outcome
    std::uint32_t record_size;          // scanner: bytes of the record after the header
    char path[platform::max_path];      // host: the DLL to probe, terminated
};
static_assert(sizeof(std::atomic<std::uint32_t>) == 4 &&
              std::atomic<std::uint32_t>::is_always_lock_free);
static_assert(offsetof(header, answer) == 4 && offsetof(header, ready) == 8);
static_assert(offsetof(header, taken) == 12 && offsetof(header, outcome) == 16);
static_assert(offsetof(header, record_size) == 20 && offsetof(header, path) == 24);
static_assert(sizeof(header) == 284);

// Where the record starts, and the block's size: room for the largest record there is.
constexpr std::size_t record_offset = 320;
static_assert(record_offset >= sizeof(header));
constexpr std::size_t largest_record =
    4 + 4 * (4 + record_text_limit) + 4 + record_parameter_limit * (2 + 2 * 31 + 16);
constexpr std::size_t block_size = (record_offset + largest_record + 65535) / 65536 * 65536;

// The argument that starts the bridge program as a scanner, before the block's size and the
// handles: kestrune-bridge --scan <block size> <handles>.
constexpr const char* scan_argument = "--scan";

inline header& header_of(unsigned char* base) noexcept {
    return *reinterpret_cast<header*>(base);
}

} // namespace kestrune::scan
