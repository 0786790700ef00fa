// The scan with its memory: what an unchanged DLL costs (nothing: it isn't loaded), what a
// changed one costs (a probe), what is remembered of bad ones, and that no state of the cache's
// file changes what the host is announced. The DLL that ended a scan in process is caught by
// the record of the probe, in scans run in a child process.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "host/machine_collection.h"
#include "hostkit/host_platform.h"
#include "hostkit/recording_factory.h"
#include "tests/support/environment.h"
#include "tests/support/process.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrune;
using kestrune::test::temp_folder;

std::string fixture(const std::string& name) {
    return kestrune::test::fixture_path(name + ".dll");
}

// A machine tree and a cache folder of its own, named by KESTRUNE_CACHE for the test's time.
struct scan_memory : ::testing::Test {
    temp_folder tree;
    std::string cache_folder = tree.at("cache");
    kestrune::test::scoped_environment cache_named{"KESTRUNE_CACHE", cache_folder};
    kestrune::test::scoped_environment in_process{"KESTRUNE_SCAN", "in-process"};

    // One scan of tree/Psycle with a new collection: the names announced, in order.
    std::vector<std::string> scan(bool fresh = false, scan_cache* kept = nullptr) {
        hostkit::recording_factory factory;
        auto* collection = new machine_collection(nullptr);
        collection->factory = &factory;
        if (fresh) {
            collection->set_option(scan_option, "fresh");
        }
        std::string start = tree.at("Psycle");
        collection->scan_folder(start.data());
        std::vector<std::string> names;
        for (host_info* info : factory.announced) {
            names.push_back(info->full_name);
        }
        if (kept != nullptr) {
            *kept = collection->cache;
        }
        collection->release();
        return names;
    }

    // Replaces a file's bytes by as many that are no library, its last write kept.
    void spoil_keeping_stamp(const std::string& path) {
        std::uintmax_t size = fs::file_size(path);
#if defined(_WIN32)
        // The C runtime sets a file's time to the second; the stamp is the system's, to 100 ns.
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        FILETIME written{};
        GetFileTime(file, nullptr, nullptr, &written);
        std::string junk(static_cast<std::size_t>(size), 'x');
        DWORD done = 0;
        WriteFile(file, junk.data(), static_cast<DWORD>(junk.size()), &done, nullptr);
        SetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
#else
        fs::file_time_type time = fs::last_write_time(path);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(size, 'x');
        fs::last_write_time(path, time);
#endif
    }

    void touch(const std::string& path) {
        fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(2));
    }
};

using names = std::vector<std::string>;

TEST_F(scan_memory, AnUnchangedDllIsNotLoadedAndAChangedOneIsProbed) {
    std::string a = tree.copy_in(fixture("scan_a"), "Psycle/a.dll");
    tree.copy_in(fixture("scan_b"), "Psycle/Sub/b.dll");
    ASSERT_EQ((names{"Scan B", "Scan A"}), scan());
    spoil_keeping_stamp(a); // were it loaded now, it would be no machine
    EXPECT_EQ((names{"Scan B", "Scan A"}), scan()) << "described from the cache";
    EXPECT_EQ((names{"Scan B"}), scan(true)) << "fresh: probed again";
    EXPECT_EQ((names{"Scan B"}), scan()) << "and remembered as no machine";

    // Another machine of the same size put in with the old time: the key is the stamp.
    tree.copy_in(fixture("scan_c"), "Psycle/c.dll");
    fs::file_time_type then = fs::last_write_time(a);
    fs::copy_file(fixture("scan_a"), a, fs::copy_options::overwrite_existing);
    touch(a);
    EXPECT_EQ((names{"Scan B", "Scan A", "Scan C"}), scan()) << "a new time: probed";
    std::ofstream(a, std::ios::binary | std::ios::app) << '\0';
    fs::last_write_time(a, then);
    EXPECT_EQ((names{"Scan B", "Scan A", "Scan C"}), scan()) << "a new size: probed";
}

TEST_F(scan_memory, BadDllsAreRememberedUntilTheirFileChanges) {
    // In a scanner, which ends with the scan: a DLL that faulted in this process would stay
    // loaded, and Windows changes no loaded DLL's file.
    kestrune::test::scoped_environment out_of_process{"KESTRUNE_SCAN", ""};
    std::string faulty = tree.copy_in(fixture("scan_faulty_info"), "Psycle/faulty.dll");
    tree.copy_in(fixture("scan_null_info"), "Psycle/null.dll");
    tree.copy_in(fixture("scan_a"), "Psycle/a.dll");
    scan_cache cache;
    ASSERT_EQ((names{"Scan A"}), scan(false, &cache));
    ASSERT_NE(nullptr, cache.find(faulty));
    EXPECT_EQ(probe_outcome::faulted, cache.find(faulty)->outcome);
    EXPECT_EQ(probe_outcome::not_machine, cache.find(tree.at("Psycle/null.dll"))->outcome);
    EXPECT_EQ((names{"Scan A"}), scan(false, &cache));
    EXPECT_EQ(1u, cache.find(faulty)->count) << "passed over, not probed again";
    touch(faulty);
    EXPECT_EQ((names{"Scan A"}), scan(false, &cache));
    EXPECT_EQ(1u, cache.find(faulty)->count) << "probed again: faulted afresh";
}

// A damaged file, one of another version, and a folder where none can be written: each a full
// scan, the same announcements.
TEST_F(scan_memory, NoStateOfTheCacheChangesTheAnnouncements) {
    tree.copy_in(fixture("scan_a"), "Psycle/a.dll");
    tree.copy_in(fixture("scan_b"), "Psycle/Deep/b.dll");
    const names expected{"Scan B", "Scan A"};
    ASSERT_EQ(expected, scan());
    std::string file = tree.at("cache/scan-cache.bin");
    std::string bytes;
    {
        std::ifstream in(file, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(bytes.size(), 16u);
    std::string other_version = bytes;
    other_version[8] = 9;
    for (const std::string& content : {bytes.substr(0, bytes.size() / 2), other_version,
                                       std::string("garbage"), std::string()}) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
        EXPECT_EQ(expected, scan());
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(bytes.size(), std::string(std::istreambuf_iterator<char>(in), {}).size())
            << "written afresh";
    }
    std::string plain = tree.write_file("not-a-folder", "x");
    kestrune::test::scoped_environment unwritable{"KESTRUNE_CACHE", plain};
    EXPECT_EQ(expected, scan());
    kestrune::test::scoped_environment off{"KESTRUNE_CACHE", "off"};
    EXPECT_EQ(expected, scan());
}

// scan_host in a host folder: the scan in a process of its own, which a DLL may end.
struct scan_in_child : scan_memory {
    static names announced(const kestrune::test::process_result& result) {
        names found;
        for (const std::string& line : result.lines()) {
            std::size_t at = line.find(" name=");
            if (line.rfind("info ", 0) == 0 && at != std::string::npos) {
                found.push_back(line.substr(at + 6, line.find(" label=") - at - 6));
            }
        }
        return found;
    }
};

TEST_F(scan_in_child, TheRecordOfTheProbeCatchesADllThatEndsTheProcess) {
#if defined(_WIN32)
    // There the loader may turn a fault in a DLL's initialisation into a failed load.
    const std::vector<std::string> ending = {"scan_load_exit"};
#else
    const std::vector<std::string> ending = {"scan_load_exit", "scan_load_fault"};
#endif
    for (const std::string& bad : ending) {
        SCOPED_TRACE(bad);
        temp_folder host;
        std::string child = kestrune::test::place_host_program(host, "scan_host");
        std::string dll = host.copy_in(fixture(bad), "Gear/Psycle/Sub/bad.dll");
        host.copy_in(fixture("scan_a"), "Gear/Psycle/a.dll");
        kestrune::test::process_result first = kestrune::test::run_program(child, {});
        ASSERT_TRUE(first.started);
        EXPECT_NE(0, first.exit_code) << "the DLL ended the scan";
        for (int run = 0; run < 2; ++run) {
            kestrune::test::process_result next = kestrune::test::run_program(child, {});
            EXPECT_EQ(0, next.exit_code) << next.output;
            EXPECT_EQ((names{"Scan A"}), announced(next));
        }
        scan_store store;
        cache_environment env;
        env.kestrune_cache = cache_folder.c_str();
        scan_cache cache;
        ASSERT_TRUE(store.open(env));
        ASSERT_TRUE(store.load(cache));
        ASSERT_NE(nullptr, cache.find(dll));
        EXPECT_EQ(probe_outcome::ended_scanner, cache.find(dll)->outcome);
    }
}

// Where the bridge lies beside the library, the DLL that ends its process ends only the scanner;
// without it, the scan runs in the host's process, and the record of the probe catches it, but
// only for as long as the file is the same.
TEST_F(scan_in_child, TheScanRunsInAScannerWhereTheBridgeLies) {
    kestrune::test::scoped_environment any_way{"KESTRUNE_SCAN", ""};
    temp_folder host;
    std::string child = kestrune::test::place_host_program(host, "scan_host");
    host.copy_in(fixture("scan_load_exit"), "Gear/Psycle/Sub/bad.dll");
    host.copy_in(fixture("scan_a"), "Gear/Psycle/a.dll");
    kestrune::test::process_result scanned = kestrune::test::run_program(child, {});
    EXPECT_EQ(0, scanned.exit_code) << scanned.output;
    EXPECT_EQ((names{"Scan A"}), announced(scanned));

    ASSERT_TRUE(fs::remove(host.at(hostkit::program_file_name("kestrune-bridge"))));
    kestrune::test::scoped_environment fresh_cache{"KESTRUNE_CACHE", tree.at("other-cache")};
    EXPECT_NE(0, kestrune::test::run_program(child, {}).exit_code) << "ended in process";
    // Replaced after it ended the scan: not held against the new file.
    host.copy_in(fixture("scan_b"), "Gear/Psycle/Sub/bad.dll");
    kestrune::test::process_result after = kestrune::test::run_program(child, {});
    EXPECT_EQ(0, after.exit_code) << after.output;
    EXPECT_EQ((names{"Scan B", "Scan A"}), announced(after));
}

} // namespace
