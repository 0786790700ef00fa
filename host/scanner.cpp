#include "host/scanner.h"

#include <cstring>

#include "calls/child_line.h"
#include "host/scan_protocol.h"
#include "platform/files.h"
#include "platform/process.h"

namespace kestrune {

bool scanner::start() noexcept {
    end();
    if (!platform::create_shared_block(block_, scan::block_size)) {
        return false;
    }
    if (!start_helper(scan::scan_argument, block_, child_)) {
        end();
        return false;
    }
    ++started;
    requests_ = 0;
    if (wait_for_helper(scan::header_of(block_.base).ready, 1, child_.link,
                        deadline_after_ms(start_deadline_ms)) != platform::channel_wait::woken) {
        end();
        return false;
    }
    return true;
}

void scanner::end() noexcept {
    end_helper(child_, block_);
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
        platform::channel_wait result =
            wait_for_helper(h.answer, number, child_.link, deadline_after_ms(deadline_ms));
        if (result == platform::channel_wait::woken) {
            if (!read_answer(outcome, record)) {
                outcome = probe_outcome::faulted; // an answer that isn't one: a broken scanner
                end();
            }
            return true;
        }
        bool took = h.taken.load(std::memory_order_acquire) == number;
        end(); // the next DLL gets a new scanner
        if (took || attempt == 1) {
            outcome = result == platform::channel_wait::closed ? probe_outcome::ended_scanner
                                                               : probe_outcome::hung;
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
