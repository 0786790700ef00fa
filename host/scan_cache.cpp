#include "host/scan_cache.h"
#include "platform/files.h"

#include <cstring>

namespace kestrune {

namespace {

constexpr char magic[8] = {'K', 'E', 'S', 'T', 'S', 'C', 'A', 'N'};
constexpr std::size_t head_size = sizeof magic + 4 + 4; // magic, version, checksum
static_assert(head_size == cache_body_offset);
constexpr std::uint32_t most_entries = 1000000;
// The least bytes an entry takes: path length, size, time, outcome, count.
constexpr std::size_t least_entry = 4 + 8 + 8 + 1 + 4;

bool same_stamp(const platform::file_stamp& a, const platform::file_stamp& b) {
    return a.size == b.size && a.time == b.time;
}

bool known_outcome(std::uint8_t value) {
    return value >= static_cast<std::uint8_t>(probe_outcome::description) &&
           value <= static_cast<std::uint8_t>(probe_outcome::ended_scanner);
}

} // namespace

std::uint32_t cache_checksum(const unsigned char* bytes, std::size_t size) noexcept {
    std::uint32_t hash = 2166136261u;
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        std::uint32_t word = static_cast<std::uint32_t>(bytes[i]) |
                             static_cast<std::uint32_t>(bytes[i + 1]) << 8 |
                             static_cast<std::uint32_t>(bytes[i + 2]) << 16 |
                             static_cast<std::uint32_t>(bytes[i + 3]) << 24;
        hash = (hash ^ word) * 16777619u;
    }
    for (; i < size; ++i) {
        hash = (hash ^ bytes[i]) * 16777619u;
    }
    return hash;
}

const cache_entry* scan_cache::find(const std::string& path) const noexcept {
    auto found = index_.find(path);
    return found != index_.end() ? &entries_[found->second] : nullptr;
}

scan_step scan_cache::decide(const std::string& path, const platform::file_stamp& stamp, bool fresh,
                             scan_status* status) noexcept {
    auto found = index_.find(path);
    cache_entry* entry = found != index_.end() ? &entries_[found->second] : nullptr;
    scan_status why = scan_status::fresh;
    scan_step step = scan_step::probe;
    if (entry != nullptr) {
        entry->seen = true;
        why = scan_status::changed;
        if (same_stamp(entry->stamp, stamp) && !fresh) {
            switch (entry->outcome) {
            case probe_outcome::description:
                why = scan_status::cached;
                step = scan_step::use_cached;
                break;
            case probe_outcome::hung:
                why = scan_status::remembered;
                step = entry->count < hung_attempts ? scan_step::probe : scan_step::pass_over;
                break;
            default:
                why = scan_status::remembered;
                step = scan_step::pass_over;
                break;
            }
        }
    }
    if (status != nullptr) {
        *status = why;
    }
    return step;
}

bool scan_cache::record(const std::string& path, const platform::file_stamp& stamp,
                        probe_outcome outcome, const description_record* description) noexcept {
    try {
        auto found = index_.find(path);
        if (found == index_.end()) {
            entries_.emplace_back();
            try {
                found = index_.emplace(path, entries_.size() - 1).first;
            } catch (...) {
                entries_.pop_back();
                throw;
            }
            entries_.back().path = path;
            entries_.back().count = 0;
        }
        cache_entry& entry = entries_[found->second];
        bool repeated = entry.outcome == outcome && same_stamp(entry.stamp, stamp) &&
                        outcome != probe_outcome::description;
        entry.count = repeated && entry.count < 0xffffffffu ? entry.count + 1 : 1;
        entry.stamp = stamp;
        entry.outcome = outcome;
        entry.seen = true;
        if (outcome == probe_outcome::description && description != nullptr) {
            entry.description = *description;
        } else {
            entry.description = description_record{};
            if (outcome == probe_outcome::description) {
                entry.outcome = probe_outcome::not_machine; // nothing to build it from
            }
        }
        return true;
    } catch (...) {
        return false;
    }
}

void scan_cache::clear() noexcept {
    entries_.clear();
    index_.clear();
}

void scan_cache::unsee() noexcept {
    for (cache_entry& entry : entries_) {
        entry.seen = false;
    }
}

bool scan_cache::read(const unsigned char* bytes, std::size_t size) noexcept {
    clear();
    if (bytes == nullptr || size < head_size || std::memcmp(bytes, magic, sizeof magic) != 0) {
        return false;
    }
    byte_reader head(bytes + sizeof magic, 8);
    std::uint32_t file_version = head.u32();
    std::uint32_t sum = head.u32();
    if (file_version != version || sum != cache_checksum(bytes + head_size, size - head_size)) {
        return false;
    }
    try {
        byte_reader in(bytes + head_size, size - head_size);
        std::uint32_t count = in.u32();
        if (count > most_entries || count > in.left() / least_entry) {
            return false;
        }
        entries_.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            cache_entry entry;
            entry.seen = false;
            if (!in.text(entry.path, platform::max_path - 1) || entry.path.empty()) {
                clear();
                return false;
            }
            entry.stamp.size = in.u64();
            entry.stamp.time = in.u64();
            std::uint8_t outcome = in.u8();
            entry.count = in.u32();
            bool whole = !in.failed() && known_outcome(outcome) && entry.count > 0 &&
                         index_.find(entry.path) == index_.end();
            entry.outcome = static_cast<probe_outcome>(outcome);
            if (whole && entry.outcome == probe_outcome::description) {
                whole = read_record(in, entry.description);
            }
            if (!whole) {
                clear();
                return false;
            }
            index_.emplace(entry.path, entries_.size());
            entries_.push_back(std::move(entry));
        }
        if (in.left() != 0) {
            clear();
            return false;
        }
        return true;
    } catch (...) {
        clear();
        return false;
    }
}

bool scan_cache::write_entries(std::string& bytes, const std::vector<bool>& kept) const noexcept {
    try {
        byte_writer out;
        out.bytes.assign(magic, sizeof magic);
        out.u32(version);
        out.u32(0); // the checksum, once the body is written
        std::uint32_t count = 0;
        for (bool keep : kept) {
            count += keep ? 1 : 0;
        }
        out.u32(count);
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (!kept[i]) {
                continue;
            }
            const cache_entry& entry = entries_[i];
            out.text(entry.path);
            out.u64(entry.stamp.size);
            out.u64(entry.stamp.time);
            out.u8(static_cast<std::uint8_t>(entry.outcome));
            out.u32(entry.count);
            if (entry.outcome == probe_outcome::description) {
                write_record(out, entry.description);
            }
        }
        auto* body = reinterpret_cast<const unsigned char*>(out.bytes.data()) + head_size;
        std::uint32_t sum = cache_checksum(body, out.bytes.size() - head_size);
        for (int i = 0; i < 4; ++i) {
            out.bytes[sizeof magic + 4 + static_cast<std::size_t>(i)] =
                static_cast<char>(sum >> (8 * i));
        }
        bytes.swap(out.bytes);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace kestrune
