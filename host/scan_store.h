// Where the scan's memory lives, and its files there: the cache itself, written whole to a new
// file that then replaces the old one (a crash, or two hosts starting at once, never leave a torn
// file), and the record of the DLL being probed in this process, written before its probe and
// removed after: a record found at the next start names the DLL that ended the last scan.
//
// The folder: KESTRUNE_CACHE when set ("off": none at all); else on Windows
// %LOCALAPPDATA%\Kestrune, natively $XDG_CACHE_HOME/kestrune, else $HOME/.cache/kestrune.
// A cache that can't be read is an empty one, one that can't be written is no error.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "host/scan_cache.h"
#include "platform/files.h"

namespace kestrune {

// The environment the folder is chosen from; null for a variable that isn't set.
struct cache_environment {
    const char* kestrune_cache = nullptr;
    const char* local_app_data = nullptr; // Windows
    const char* xdg_cache_home = nullptr; // natively
    const char* home = nullptr;           // natively
};
// This process's environment.
cache_environment process_environment() noexcept;

// The cache folder for env, without a closing separator, and the folder above it that may have
// to be made first (empty when none). False when the cache is off, or no folder can be named or
// fits max_path with the file names appended.
bool choose_cache_folder(const cache_environment& env, std::string& folder,
                         std::string& parent) noexcept;

// The largest cache file read: a bigger one is damaged.
constexpr std::size_t largest_cache_file = 64u << 20;

class scan_store {
public:
    scan_store() = default;
    ~scan_store() { end_marks(); }
    scan_store(const scan_store&) = delete;
    scan_store& operator=(const scan_store&) = delete;

    // Opens the folder chosen for env (making it when missing); false when there is none, and
    // every other call then does nothing.
    bool open(const cache_environment& env) noexcept;
    bool is_open() const noexcept { return !folder_.empty(); }

    // Reads the cache into cache; false (cache empty) when there is none or it can't be used.
    bool load(scan_cache& cache) const noexcept;
    // Writes cache whole (scan_cache::write) to a new file and puts it in the old one's place.
    bool save(const scan_cache& cache) const noexcept;

    // The record of the DLL being probed: written before its probe, emptied after, and removed
    // by end_marks at the end of the scan. The file stays open meanwhile, so that each costs a
    // write: the record has to outlive only this process, not the system.
    // The record holds the file's stamp too, so that a DLL replaced after it ended a scan is
    // probed afresh.
    void mark(const char* path, const platform::file_stamp& stamp) noexcept;
    void unmark() noexcept;
    void end_marks() noexcept;
    // The DLL named by a record left from an earlier process, into path and stamp; the record
    // is removed.
    bool take_mark(std::string& path, platform::file_stamp& stamp) const noexcept;

    std::string cache_path() const; // for tests and the scan's report
    std::string mark_path() const;

private:
    std::string folder_;
    std::FILE* marks_ = nullptr; // the record's file while a scan writes it
};

} // namespace kestrune
