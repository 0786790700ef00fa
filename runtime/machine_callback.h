// The callback object that each loaded machine is given, in place of its instance. A machine may
// call its callback whenever it likes: from inside a call, but also from a timer, a thread or a
// window of its own, and it keeps doing so after it faulted, since a faulted machine is never
// destroyed. So the callback is an object of its own that may outlive the instance: while its
// machine is healthy it forwards each call to the instance; once detached it answers as the
// base callback does (no message box, the fixed tempo defaults), for good.
//
// Ownership: the instance allocates one per loaded machine (at load, never on the audio path).
// When its machine is destroyed normally, the instance frees it after the destruction; when its
// machine is abandoned, the instance detaches it and it is never freed.
#pragma once

#include "machine/machine_interface.h"

namespace kestrune {

class machine_callback final : public machine_host_callback {
public:
    explicit machine_callback(machine_host_callback& owner) noexcept : instance(&owner) {}
    machine_callback(const machine_callback&) = delete;
    machine_callback& operator=(const machine_callback&) = delete;
    ~machine_callback() = default;

    // From now on every answer is the base callback's; the instance may then be freed.
    void detach() noexcept { instance = nullptr; }
    bool attached() const noexcept { return instance != nullptr; }

    // Slots 0 and 4 to 7: forwarded while attached, else the base answers. Slots 1 to 3 keep
    // the base answers always. noexcept: the caller is the machine, another compiler's code.
    int message(const char* text, const char* caption, unsigned type) noexcept override;
    int tick_length() noexcept override;
    int sample_rate() noexcept override;
    int tempo() noexcept override;
    int beat_ticks() noexcept override;

private:
    machine_host_callback* instance; // null once detached
};

} // namespace kestrune
