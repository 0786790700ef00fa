// The host's side of the scan out of process: a scanner (the bridge program beside the library,
// started with --scan) probes the DLLs that the scan names, one after the other. One scanner
// serves the whole scan; when it dies or doesn't answer within the deadline, it is ended, the DLL
// it was probing is remembered as such, and the next DLL gets a new scanner. What it answers is
// checked before anything of it is used.
#pragma once

#include "host/description_record.h"
#include "host/scan_cache.h"
#include "platform/process.h"

namespace kestrune {

class scanner {
public:
    scanner() = default;
    ~scanner() { end(); }
    scanner(const scanner&) = delete;
    scanner& operator=(const scanner&) = delete;

    // Probes the DLL at path in the scanner, starting one when none runs; true with outcome
    // (and record, for a description) set. False when no scanner can be started: the caller
    // probes in process then, and so do all later calls until reset.
    bool probe(const char* path, probe_outcome& outcome, description_record& record) noexcept;
    // Ends the scanner, if one runs, and frees the block.
    void end() noexcept;
    // Forgets that no scanner could be started, for a new scan.
    void reset() noexcept { unavailable_ = false; }

    int deadline_ms = 10000; // per DLL, from the request (the scanner's last answer)
    // For a new scanner to be ready: a process start, which a loaded machine (or an emulator)
    // can make slow. One that isn't ready by then leaves the scan to the host's process.
    int start_deadline_ms = 10000;
    int started = 0; // scanners started so far, for tests and the report

private:
    bool start() noexcept;
    // The answer to the request in the block, checked; false when it is no valid answer.
    bool read_answer(probe_outcome& outcome, description_record& record) noexcept;
    platform::child_process child_;
    platform::shared_block block_;
    std::uint32_t requests_ = 0;
    bool unavailable_ = false;
};

} // namespace kestrune
