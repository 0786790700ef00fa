// What the scan remembers between starts: for each DLL file it probed, keyed on the file's full
// path, size and last write, what its probe gave. A DLL whose file is unchanged is then not
// loaded again: its description is built from the record, and one that was no machine, or that
// faulted or ended the scanner, is passed over until its file changes. One that hung is tried
// again at the next scans, hung_retries times, before it is passed over too.
//
// Plain logic over plain records: the file's bytes in and out (scan_cache_file.h reads and
// writes the file itself). A cache that can't be read is an empty one; nothing here throws.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/description_record.h"
#include "platform/files.h"

namespace kestrune {

// What one probe of a DLL gave. The numbers are the file's: never change them.
enum class probe_outcome : std::uint8_t {
    description = 1,   // a machine: its description is kept
    not_machine = 2,   // it didn't load, has no "GetInfo", or that answered null or too much
    faulted = 3,       // loading it or its "GetInfo" faulted
    hung = 4,          // it didn't answer the scanner in time
    ended_scanner = 5, // the process that probed it ended
};

// How often a DLL that hung is probed again before it is passed over: it hung at its first scan
// and the next two, so the fourth passes it over.
constexpr std::uint32_t hung_attempts = 3;

struct cache_entry {
    std::string path;           // the full path, as the scan built it
    platform::file_stamp stamp; // of the file when it was probed
    probe_outcome outcome = probe_outcome::not_machine;
    std::uint32_t count = 1;        // the probes in a row that gave this outcome, for a bad one
    description_record description; // with outcome description
    bool seen = false;              // met by the scan in progress (not kept in the file)
};

// What the scan does with one DLL.
enum class scan_step {
    use_cached, // build its description from the entry, without loading it
    pass_over,  // nothing: remembered as no machine, or as bad
    probe,      // load it (or have the scanner do so), and record what that gives
};

// Why a DLL is probed, or how it was passed over, as the scan's report shows it.
enum class scan_status { cached, fresh, changed, remembered };

// The file's checksum over its body (the bytes after magic, version and checksum): FNV-1a over
// little-endian 32-bit words, then the last bytes one by one. Damage that still parses is found.
std::uint32_t cache_checksum(const unsigned char* bytes, std::size_t size) noexcept;
constexpr std::size_t cache_body_offset = 16; // magic (8), version, checksum

class scan_cache {
public:
    // Format version of the file; a file of another version is ignored (and written afresh).
    static constexpr std::uint32_t version = 1;

    // The entry for path, or null.
    const cache_entry* find(const std::string& path) const noexcept;
    // What to do with the DLL at path whose file has stamp now (fresh: probe every DLL).
    scan_step decide(const std::string& path, const platform::file_stamp& stamp, bool fresh,
                     scan_status* status = nullptr) noexcept;
    // Records what a probe of the DLL at path, with stamp, gave: a bad outcome that repeats an
    // unchanged entry's counts one more. False when memory ran out (nothing is recorded).
    bool record(const std::string& path, const platform::file_stamp& stamp, probe_outcome outcome,
                const description_record* description = nullptr) noexcept;

    // The file's bytes: replaces every entry by those read; false (and empty) when the bytes are
    // damaged, of another version, or memory runs out.
    bool read(const unsigned char* bytes, std::size_t size) noexcept;
    // The file's bytes for the entries kept: those met in this scan, and of the others those
    // whose file still exists (exists(path) true). False when memory runs out.
    template <class Exists>
    bool write(std::string& bytes, Exists exists) const noexcept;

    std::size_t size() const noexcept { return entries_.size(); }
    const std::vector<cache_entry>& entries() const noexcept { return entries_; }
    void clear() noexcept;
    // Forgets which entries the scan met: a new scan starts.
    void unsee() noexcept;

private:
    bool write_entries(std::string& bytes, const std::vector<bool>& kept) const noexcept;
    std::vector<cache_entry> entries_;
    std::unordered_map<std::string, std::size_t> index_;
};

template <class Exists>
bool scan_cache::write(std::string& bytes, Exists exists) const noexcept {
    try {
        std::vector<bool> kept(entries_.size());
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            kept[i] = entries_[i].seen || exists(entries_[i].path);
        }
        return write_entries(bytes, kept);
    } catch (...) {
        return false;
    }
}

} // namespace kestrune
