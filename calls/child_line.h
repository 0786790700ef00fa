// The line to a helper process: the program kestrune-bridge beside the library, started for one
// machine DLL (a bridge) or for the folder scan (a scanner), with a shared block that both sides
// map and a channel that wakes either side and tells the host when the process ends. The bridge
// client and the scanner each speak their own protocol over it; starting, waiting and ending
// are the same for both.
//
// Nothing here allocates or throws; waiting is fit for the audio path, starting isn't.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/process.h"

namespace kestrune {

// Where the helper program lies: beside the module that holds this code (kestrune.dll, or the
// program it is linked into). False when that path can't be learnt or is too long for text.
bool helper_program_path(char* text, std::size_t size) noexcept;

// Starts the helper program for subject (a machine DLL's path, or the scan's argument) as
// child, handing it block: its arguments are "<subject> <block size> <host folder>" and then the
// handles, which the platform appends. The host folder is the folder of this process's
// executable, where a DLL that a machine needs may lie. False when the program can't be found
// or started; block stays the caller's either way.
bool start_helper(const char* subject, const platform::shared_block& block,
                  platform::child_process& child) noexcept;

// Waits until the helper has published number in field, deadline (monotonic microseconds)
// passes, or the channel closes: woken, timed_out or closed (an answer published before the
// process ended counts as woken). With asleep, it tells the helper through it while it sleeps
// on the channel, so that the helper wakes it; with spin_microseconds, it first spins that long
// on field before it sleeps.
platform::channel_wait wait_for_helper(const std::atomic<std::uint32_t>& field,
                                       std::uint32_t number, const platform::channel& link,
                                       unsigned long long deadline,
                                       std::atomic<std::uint32_t>* asleep = nullptr,
                                       unsigned long long spin_microseconds = 0) noexcept;

// The monotonic time ms milliseconds from now (none for ms <= 0).
unsigned long long deadline_after_ms(int ms) noexcept;

// How long ending a helper may take (beyond a call's deadline, for a bridge): a killed process
// ends at once, unless it is stuck in the kernel or a driver, and then the host doesn't wait for
// it.
constexpr int helper_end_wait_ms = 200;

// Ends the helper, if one runs (waiting at most helper_end_wait_ms for it to go once killed),
// and frees block.
void end_helper(platform::child_process& child, platform::shared_block& block) noexcept;

} // namespace kestrune
