// The scan's memory as plain logic: descriptions kept as records, the cache's decisions, its file
// format against damage, and where it lives.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "host/description_record.h"
#include "host/machine_probe.h"
#include "host/scan_cache.h"
#include "host/scan_store.h"
#include "hostkit/describe.h"
#include "platform/files.h"
#include "platform/module.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_paths.h"

namespace {

using namespace kestrune;
using kestrune::test::temp_folder;

std::string described(const machine_info& info) {
    return hostkit::describe_info(info) + "path=" + info.library_path;
}

// The description as the probe built it before the cache: straight from the live one.
std::string live(const std::string& path) {
    platform::module_handle library = platform::load_library(path.c_str());
    auto get_info =
        reinterpret_cast<get_info_function>(platform::find_export(library, get_info_export));
    std::unique_ptr<machine_info> info(
        get_info ? build_machine_info(*get_info(), path.c_str(), nullptr) : nullptr);
    platform::free_library(library);
    return info ? described(*info) : "none";
}

// A record through its bytes and back into a description.
std::string through_bytes(const description_record& record, const std::string& path) {
    byte_writer out;
    write_record(out, record);
    byte_reader in(reinterpret_cast<const unsigned char*>(out.bytes.data()), out.bytes.size());
    description_record back;
    machine_info info;
    if (!read_record(in, back) || in.left() != 0 ||
        !fill_from_record(info, back, path.c_str(), nullptr)) {
        return "unreadable";
    }
    return described(info);
}

TEST(DescriptionRecord, RebuildsTheProbedDescriptionFieldByField) {
    for (const char* name : {"scan_generator", "scan_effect", "scan_no_create", "scan_a"}) {
        std::string path = kestrune::test::fixture_path(std::string(name) + ".dll");
        description_record record;
        ASSERT_EQ(probe_outcome::description, probe_in_process(path.c_str(), record)) << name;
        EXPECT_EQ(live(path), through_bytes(record, path)) << name;
    }
}

// Null texts, null entries, names beyond a host's 31 characters, odd ranges, a negative count.
TEST(DescriptionRecord, KeepsTheEdgesOfADescription) {
    const std::string long_name(40, 'n');
    const machine_parameter wide{long_name.c_str(), nullptr, -5, 100000, 2, 7};
    const machine_parameter reversed{"R", "r", 10, -10, 3, -1};
    const machine_parameter* const table[] = {&wide, nullptr, &reversed};
    const machine_description cases[] = {
        {11, 3, 3, table, "Name\twith tab", nullptr, nullptr, "Cmd", 0},
        {0, 7, -2, table, nullptr, "L", "A", nullptr, 0},
        {0, 0, 3, nullptr, "", "", "", "", 0},
    };
    for (const machine_description& description : cases) {
        description_record record;
        ASSERT_TRUE(capture_description(description, record));
        std::unique_ptr<machine_info> direct(build_machine_info(description, "/m.dll", nullptr));
        EXPECT_EQ(described(*direct), through_bytes(record, "/m.dll"));
    }
    const machine_description huge{0, 0, 0x7fffffff, table, "H", "", "", "", 0};
    description_record record;
    EXPECT_FALSE(capture_description(huge, record)) << "beyond the bounds: no machine";
}

platform::file_stamp stamp(unsigned long long size, unsigned long long time) {
    platform::file_stamp s;
    s.size = size;
    s.time = time;
    return s;
}

description_record small_record() {
    description_record record;
    record.kind_flags = 3;
    record.full_name = "Kept";
    record.params.push_back(parameter_record{"T", "C", 0, 10, 2, 5});
    return record;
}

// A cache of every outcome, as bytes.
std::string every_outcome(scan_cache& cache) {
    description_record record = small_record();
    cache.record("/m/desc.dll", stamp(1, 2), probe_outcome::description, &record);
    cache.record("/m/none.dll", stamp(3, 4), probe_outcome::not_machine);
    cache.record("/m/fault.dll", stamp(5, 6), probe_outcome::faulted);
    cache.record("/m/hung.dll", stamp(7, 8), probe_outcome::hung);
    cache.record("/m/hung.dll", stamp(7, 8), probe_outcome::hung);
    cache.record("/m/ended.dll", stamp(9, 10), probe_outcome::ended_scanner);
    std::string bytes;
    EXPECT_TRUE(cache.write(bytes, [](const std::string&) { return true; }));
    return bytes;
}

bool read_bytes(scan_cache& cache, const std::string& bytes) {
    return cache.read(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

TEST(ScanCache, KeepsEveryOutcomeThroughItsFile) {
    scan_cache written;
    std::string bytes = every_outcome(written);
    scan_cache cache;
    ASSERT_TRUE(read_bytes(cache, bytes));
    ASSERT_EQ(5u, cache.size());
    for (const cache_entry& entry : written.entries()) {
        const cache_entry* back = cache.find(entry.path);
        ASSERT_NE(nullptr, back) << entry.path;
        EXPECT_EQ(entry.outcome, back->outcome) << entry.path;
        EXPECT_EQ(entry.count, back->count) << entry.path;
        EXPECT_EQ(entry.stamp.size, back->stamp.size) << entry.path;
        EXPECT_EQ(entry.stamp.time, back->stamp.time) << entry.path;
    }
    EXPECT_EQ(2u, cache.find("/m/hung.dll")->count);
    EXPECT_EQ("Kept", cache.find("/m/desc.dll")->description.full_name);
    EXPECT_STREQ("C", cache.find("/m/desc.dll")->description.params[0].caption);
}

TEST(ScanCache, DropsOnlyUnseenEntriesOfVanishedFiles) {
    scan_cache cache;
    ASSERT_TRUE(read_bytes(cache, every_outcome(cache)));
    cache.decide("/m/none.dll", stamp(3, 4), false); // met by this scan, whatever exists says
    std::string bytes;
    ASSERT_TRUE(cache.write(bytes, [](const std::string& path) { return path == "/m/hung.dll"; }));
    ASSERT_TRUE(read_bytes(cache, bytes));
    EXPECT_EQ(2u, cache.size());
    EXPECT_NE(nullptr, cache.find("/m/none.dll"));
    EXPECT_NE(nullptr, cache.find("/m/hung.dll"));
}

TEST(ScanCache, DecidesByStampAndOutcome) {
    scan_cache cache;
    every_outcome(cache);
    EXPECT_EQ(scan_step::use_cached, cache.decide("/m/desc.dll", stamp(1, 2), false));
    EXPECT_EQ(scan_step::probe, cache.decide("/m/desc.dll", stamp(1, 3), false)) << "time";
    EXPECT_EQ(scan_step::probe, cache.decide("/m/desc.dll", stamp(2, 2), false)) << "size";
    EXPECT_EQ(scan_step::probe, cache.decide("/m/new.dll", stamp(1, 2), false));
    for (const char* bad : {"/m/none.dll", "/m/fault.dll", "/m/ended.dll"}) {
        const cache_entry* entry = cache.find(bad);
        EXPECT_EQ(scan_step::pass_over, cache.decide(bad, entry->stamp, false)) << bad;
        EXPECT_EQ(scan_step::probe, cache.decide(bad, entry->stamp, true)) << bad << " fresh";
    }
    // Hung twice: probed once more; hung a third time, passed over until the file changes.
    EXPECT_EQ(scan_step::probe, cache.decide("/m/hung.dll", stamp(7, 8), false));
    cache.record("/m/hung.dll", stamp(7, 8), probe_outcome::hung);
    EXPECT_EQ(scan_step::pass_over, cache.decide("/m/hung.dll", stamp(7, 8), false));
    EXPECT_EQ(scan_step::probe, cache.decide("/m/hung.dll", stamp(7, 9), false));
    cache.record("/m/hung.dll", stamp(7, 9), probe_outcome::hung);
    EXPECT_EQ(1u, cache.find("/m/hung.dll")->count) << "a changed file counts afresh";
}

// The checksum as the file keeps it, so that damage reaches the parser behind it.
void reseal(std::string& bytes) {
    std::uint32_t hash =
        cache_checksum(reinterpret_cast<const unsigned char*>(bytes.data()) + cache_body_offset,
                       bytes.size() - cache_body_offset);
    for (int i = 0; i < 4; ++i) {
        bytes[12 + static_cast<std::size_t>(i)] = static_cast<char>(hash >> (8 * i));
    }
}

TEST(ScanCache, DamagedOrForeignBytesAreAnEmptyCache) {
    scan_cache source;
    const std::string bytes = every_outcome(source);
    scan_cache cache;
    std::string other_version = bytes;
    other_version[8] = 2;
    reseal(other_version);
    EXPECT_FALSE(read_bytes(cache, other_version));
    std::string flipped = bytes;
    flipped[bytes.size() / 2] ^= 0x40;
    EXPECT_FALSE(read_bytes(cache, flipped)) << "the checksum finds it";
    EXPECT_EQ(0u, cache.size());
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        std::string part = bytes.substr(0, cut);
        if (part.size() > 16) {
            reseal(part);
        }
        EXPECT_FALSE(read_bytes(cache, part)) << cut;
    }
    // Damage behind a valid checksum: every read ends, bounded, whatever it makes of it.
    std::mt19937 random(24);
    for (int round = 0; round < 3000; ++round) {
        std::string damaged = bytes;
        for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips) {
            std::size_t at = 16 + random() % (damaged.size() - 16);
            damaged[at] = static_cast<char>(random() % 3 == 0 ? 0xff : random());
        }
        reseal(damaged);
        if (read_bytes(cache, damaged)) {
            EXPECT_LE(cache.size(), 5u);
        } else {
            EXPECT_EQ(0u, cache.size());
        }
    }
}

TEST(CacheFolder, ChosenFromTheEnvironment) {
    std::string folder;
    std::string parent;
    cache_environment env;
    env.local_app_data = "C:\\Users\\m\\AppData\\Local";
    env.xdg_cache_home = "/x/cache";
    env.home = "/home/m";
#if defined(_WIN32)
    ASSERT_TRUE(choose_cache_folder(env, folder, parent));
    EXPECT_EQ("C:\\Users\\m\\AppData\\Local\\Kestrune", folder);
#else
    ASSERT_TRUE(choose_cache_folder(env, folder, parent));
    EXPECT_EQ("/x/cache/kestrune", folder);
    env.xdg_cache_home = "";
    ASSERT_TRUE(choose_cache_folder(env, folder, parent));
    EXPECT_EQ("/home/m/.cache/kestrune", folder);
    EXPECT_EQ("/home/m/.cache", parent);
#endif
    env.kestrune_cache = "/elsewhere/";
    ASSERT_TRUE(choose_cache_folder(env, folder, parent));
    EXPECT_EQ("/elsewhere", folder);
    env.kestrune_cache = "off";
    EXPECT_FALSE(choose_cache_folder(env, folder, parent));
    env.kestrune_cache = nullptr;
    env.local_app_data = env.xdg_cache_home = env.home = nullptr;
    EXPECT_FALSE(choose_cache_folder(env, folder, parent));
    const std::string too_long(300, 'x');
    env.kestrune_cache = too_long.c_str();
    EXPECT_FALSE(choose_cache_folder(env, folder, parent));
}

TEST(ScanStore, KeepsTheCacheAndTheRecordOfTheProbe) {
    temp_folder folder;
    cache_environment env;
    std::string where = folder.at("cache");
    env.kestrune_cache = where.c_str();
    scan_store store;
    ASSERT_TRUE(store.open(env));
    scan_cache cache;
    every_outcome(cache);
    ASSERT_TRUE(store.save(cache)); // the files are gone: only what this scan met is kept
    scan_cache back;
    ASSERT_TRUE(store.load(back));
    EXPECT_EQ(5u, back.size());

    // What a process that ended during a probe leaves: the last path written, whole, with
    // the file's stamp.
    std::string named;
    platform::file_stamp then;
    EXPECT_FALSE(store.take_mark(named, then));
    store.mark("/m/a/longer/path.dll", stamp(1, 2));
    store.mark("/m/short.dll", stamp(123, 18446744073709551615ull));
    std::ifstream left(store.mark_path(), std::ios::binary);
    std::string record(std::istreambuf_iterator<char>(left), {});
    left.close();
    store.unmark();
    store.end_marks();
    EXPECT_FALSE(store.take_mark(named, then)) << "none after a whole scan";
    std::ofstream(store.mark_path(), std::ios::binary) << record;
    ASSERT_TRUE(store.take_mark(named, then));
    EXPECT_EQ("/m/short.dll", named);
    EXPECT_EQ(123u, then.size);
    EXPECT_EQ(18446744073709551615ull, then.time);
    EXPECT_FALSE(store.take_mark(named, then)) << "taken once";
    for (const char* damaged : {"", "12 /m/x.dll", "a 1 /m/x.dll", "1 2 "}) {
        std::ofstream(store.mark_path(), std::ios::binary) << damaged;
        EXPECT_FALSE(store.take_mark(named, then)) << damaged;
    }
    store.mark("/m/probed.dll", stamp(1, 2));
    store.unmark();
    std::ifstream emptied(store.mark_path(), std::ios::binary);
    EXPECT_EQ('\0', emptied.get()) << "emptied after its probe";

    // A folder that can't be made (a file is in its place) is no cache, and no error.
    std::string file = folder.write_file("plain", "x");
    env.kestrune_cache = file.c_str();
    scan_store none;
    EXPECT_FALSE(none.open(env));
    EXPECT_FALSE(none.save(cache));
    EXPECT_FALSE(none.load(back));
    EXPECT_EQ(0u, back.size());
}

} // namespace
