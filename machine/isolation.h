// Where an instance runs its machine: in the host's process, or in a bridge process of its own
// (kestrune-bridge beside the library), which contains what no guard in the host can: a hang, a
// call of exit or abort, a broken heap, a fault on a thread of the machine's own. The collection
// holds the setting, which the host changes through set_option; each instance reads it when it
// starts.
#pragma once

#include <atomic>

namespace kestrune {

enum class isolation_mode : int {
    after_fault = 0, // the default: after a fault of its machine (this instance's, or any of the
                     // same DLL path in this process), an instance's next start runs isolated
    always = 1,      // every instance started from now on runs isolated
    never = 2,       // none does: a fresh machine after a fault runs in process again
};

// The bridge program, beside the library: it runs an isolated instance's machine.
#if defined(_WIN32)
constexpr const char* bridge_program_name = "kestrune-bridge.exe";
#else
constexpr const char* bridge_program_name = "kestrune-bridge";
#endif

// The one option key that the collection knows, and its values.
constexpr const char* isolation_option = "kestrune.isolate";

// Reads set_option's key and value: true, with mode set, when key is isolation_option and value
// one of "always", "after-fault" and "never"; false for every other key and value (null ones
// included), and mode is left alone.
bool parse_isolation_option(const char* key, const char* value, isolation_mode& mode) noexcept;

// The setting as a collection holds it and its descriptions point to it: written by set_option,
// read by each start, possibly on other threads.
using isolation_setting = std::atomic<isolation_mode>;

} // namespace kestrune
