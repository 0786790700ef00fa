#include "host/scanner.h"

#include <cstdio>
#include <cstring>

#include "host/scan_protocol.h"
#include "machine/isolation.h"

namespace kestrune {

namespace {

enum class waited { answered, closed, timed_out };

// Waits until field holds number, the channel closes or deadline (monotonic microseconds)
// passes. Every wake-up is written, so a look and a sleep never miss one.
waited wait_for(const std::atomic<std::uint32_t>& field, std::uint32_t number,
                const platform::channel& link, unsigned long long deadline) {
    for (;;) {
        if (field.load(std::memory_order_acquire) == number) {
            return waited::answered;
        }
        unsigned long long now = platform::monotonic_microseconds();
        if (now >= deadline) {
            return waited::timed_out;
        }
        platform::channel_wait woke =
            platform::wait_channel(link, static_cast<int>((deadline - now + 999) / 1000));
        if (woke == platform::channel_wait::closed) {
            return field.load(std::memory_order_acquire) == number ? waited::answered
                                                                   : waited::closed;
        }
    }
}

unsigned long long deadline_after(int ms) {
    return platform::monotonic_microseconds() + 1000ull * static_cast<unsigned>(ms > 0 ? ms : 0);
}

} // namespace

bool scanner_program_path(char* text, std::size_t size) noexcept {
    return platform::sibling_path(reinterpret_cast<const void*>(&scanner_program_path),
                                  bridge_program_name, text, size);
}

bool scanner::start() noexcept {
    end();
    char program[platform::max_path];
    char size_text[24];
    std::snprintf(size_text, sizeof size_text, "%u", static_cast<unsigned>(scan::block_size));
    if (!scanner_program_path(program, sizeof program) ||
        !platform::create_shared_block(block_, scan::block_size)) {
        return false;
    }
    char host_folder[platform::max_path];
    platform::executable_folder(host_folder, sizeof host_folder);
    const char* const arguments[] = {program, scan::scan_argument, size_text, host_folder, nullptr};
    if (!platform::start_child(program, arguments, block_.handle, child_)) {
        end();
        return false;
    }
    ++started;
    requests_ = 0;
    if (wait_for(scan::header_of(block_.base).ready, 1, child_.link,
                 deadline_after(start_deadline_ms)) != waited::answered) {
        end();
        return false;
    }
    return true;
}

void scanner::end() noexcept {
    if (child_.id != 0) {
        platform::end_child(child_, end_wait_ms);
    }
    platform::free_shared_block(block_);
}

bool scanner::probe(const char* path, probe_outcome& outcome, description_record& record) noexcept {
    std::size_t length = path != nullptr ? std::strlen(path) : 0;
    if (unavailable_ || length == 0 || length >= platform::max_path) {
        return false;
    }
    // A scanner that ends or stalls before it took the request (a DLL's thread may still end it
    // after its answer) blames no DLL: the request goes to a new scanner, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (child_.id == 0 && !start()) {
            unavailable_ = true;
            return false;
        }
        scan::header& h = scan::header_of(block_.base);
        std::memcpy(h.path, path, length + 1);
        std::uint32_t number = ++requests_;
        h.request.store(number, std::memory_order_seq_cst);
        platform::wake_channel(child_.link);
        waited result = wait_for(h.answer, number, child_.link, deadline_after(deadline_ms));
        if (result == waited::answered) {
            if (!read_answer(outcome, record)) {
                outcome = probe_outcome::faulted; // an answer that isn't one: a broken scanner
                end();
            }
            return true;
        }
        bool took = h.taken.load(std::memory_order_acquire) == number;
        end(); // the next DLL gets a new scanner
        if (took || attempt == 1) {
            outcome = result == waited::closed ? probe_outcome::ended_scanner : probe_outcome::hung;
            return true;
        }
    }
    outcome = probe_outcome::ended_scanner; // not reached: the second attempt answers
    return true;
}

bool scanner::read_answer(probe_outcome& outcome, description_record& record) noexcept {
    const scan::header& h = scan::header_of(block_.base);
    // Read once each: the scanner may still write.
    const std::int32_t told = h.outcome;
    const std::uint32_t size = h.record_size;
    if (told < static_cast<std::int32_t>(probe_outcome::description) ||
        told > static_cast<std::int32_t>(probe_outcome::faulted)) {
        return false;
    }
    outcome = static_cast<probe_outcome>(told);
    if (outcome != probe_outcome::description) {
        return size == 0;
    }
    if (size == 0 || size > block_.size - scan::record_offset) {
        return false;
    }
    try {
        // A copy first, so that what is checked is what is used.
        std::string bytes(reinterpret_cast<const char*>(block_.base + scan::record_offset), size);
        byte_reader in(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        return read_record(in, record) && in.left() == 0;
    } catch (...) {
        return false;
    }
}

} // namespace kestrune
