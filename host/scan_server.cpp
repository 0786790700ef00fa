#include "host/scan_server.h"

#include <algorithm>
#include <cstring>

#include "host/machine_probe.h"
#include "host/scan_protocol.h"
#include "platform/files.h"
#include "platform/process.h"

namespace kestrune {

namespace {

// Waits until the host has made a request after current; false when the channel closed.
bool next_request(scan::header& h, const platform::channel& link, std::uint32_t current) {
    while (h.request.load(std::memory_order_acquire) == current) {
        if (platform::wait_channel(link, -1) == platform::channel_wait::closed) {
            return false;
        }
    }
    return true;
}

// Probes the DLL the request names, and writes the answer after the header.
void answer(unsigned char* base, std::size_t size) {
    scan::header& h = scan::header_of(base);
    char path[platform::max_path];
    std::memcpy(path, h.path, sizeof path);
    path[sizeof path - 1] = '\0';
    description_record record;
    probe_outcome outcome = probe_in_process(path, record);
    h.record_size = 0;
    if (outcome == probe_outcome::description) {
        try {
            byte_writer out;
            write_record(out, record);
            if (out.bytes.size() > size - scan::record_offset) {
                outcome = probe_outcome::not_machine;
            } else {
                std::copy(out.bytes.begin(), out.bytes.end(), base + scan::record_offset);
                h.record_size = static_cast<std::uint32_t>(out.bytes.size());
            }
        } catch (...) {
            outcome = probe_outcome::not_machine; // out of memory here: as in process
        }
    }
    h.outcome = static_cast<std::int32_t>(outcome);
}

} // namespace

int serve_scan(std::size_t block_size, const char* host_folder, const char* handles) noexcept {
    platform::bridge_handles handed;
    platform::shared_block block;
    if (!platform::read_bridge_handles(handles, handed) || !platform::keep_from_children(handed) ||
        !platform::search_dlls_in(host_folder) || block_size < scan::record_offset ||
        !platform::map_shared_block(block, handed.block, block_size) ||
        !platform::end_with_channel(handed.link)) {
        return 2;
    }
    scan::header& h = scan::header_of(block.base);
    std::uint32_t current = 0;
    h.ready.store(1, std::memory_order_seq_cst);
    platform::wake_channel(handed.link);
    for (;;) {
        if (!next_request(h, handed.link, current)) {
            return 0;
        }
        current = h.request.load(std::memory_order_acquire);
        h.taken.store(current, std::memory_order_seq_cst);
        answer(block.base, block.size);
        h.answer.store(current, std::memory_order_seq_cst);
        platform::wake_channel(handed.link);
    }
}

} // namespace kestrune
