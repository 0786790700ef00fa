#include "calls/child_line.h"

#include <cstdio>

#include "machine/isolation.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/process.h"

namespace kestrune {

bool helper_program_path(char* text, std::size_t size) noexcept {
    return platform::sibling_path(reinterpret_cast<const void*>(&helper_program_path),
                                  bridge_program_name, text, size);
}

bool start_helper(const char* subject, const platform::shared_block& block,
                  platform::child_process& child) noexcept {
    char program[platform::max_path];
    if (subject == nullptr || !helper_program_path(program, sizeof program)) {
        return false;
    }
    char size_text[24];
    std::snprintf(size_text, sizeof size_text, "%u", static_cast<unsigned>(block.size));
    char host_folder[platform::max_path];
    platform::executable_folder(host_folder, sizeof host_folder);
    const char* const arguments[] = {program, subject, size_text, host_folder, nullptr};
    return platform::start_child(program, arguments, block.handle, child);
}

platform::channel_wait wait_for_helper(const std::atomic<std::uint32_t>& field,
                                       std::uint32_t number, const platform::channel& link,
                                       unsigned long long deadline,
                                       std::atomic<std::uint32_t>* asleep,
                                       unsigned long long spin_microseconds) noexcept {
    const unsigned long long spin_end = platform::monotonic_microseconds() + spin_microseconds;
    do {
        if (field.load(std::memory_order_acquire) == number) {
            return platform::channel_wait::woken;
        }
        platform::spin_pause();
    } while (platform::monotonic_microseconds() < spin_end);
    // Every wake-up is written down before the look at field, so a look and a sleep never miss
    // one. Without asleep, nobody reads the flag.
    std::atomic<std::uint32_t> unread{0};
    std::atomic<std::uint32_t>& sleeping = asleep != nullptr ? *asleep : unread;
    for (;;) {
        sleeping.store(1, std::memory_order_seq_cst);
        if (field.load(std::memory_order_seq_cst) == number) {
            sleeping.store(0, std::memory_order_relaxed);
            return platform::channel_wait::woken;
        }
        const unsigned long long now = platform::monotonic_microseconds();
        if (now >= deadline) {
            sleeping.store(0, std::memory_order_relaxed);
            return platform::channel_wait::timed_out;
        }
        const int wait_ms = static_cast<int>((deadline - now + 999) / 1000);
        const platform::channel_wait woke = platform::wait_channel(link, wait_ms);
        sleeping.store(0, std::memory_order_relaxed);
        if (field.load(std::memory_order_acquire) == number) {
            return platform::channel_wait::woken; // answered, even if it ended right after
        }
        if (woke == platform::channel_wait::closed) {
            return woke;
        }
    }
}

unsigned long long deadline_after_ms(int ms) noexcept {
    return platform::monotonic_microseconds() + 1000ull * static_cast<unsigned>(ms > 0 ? ms : 0);
}

void end_helper(platform::child_process& child, platform::shared_block& block) noexcept {
    if (child.id != 0) {
        platform::end_child(child, helper_end_wait_ms);
    }
    platform::free_shared_block(block);
}

} // namespace kestrune
