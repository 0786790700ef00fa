// The scan out of process: the scanner describes every machine exactly as a probe in process
// does, and a scan survives DLLs that end, break or hang it, announcing every healthy sibling in
// order and remembering what each bad one did.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/machine_collection.h"
#include "host/machine_probe.h"
#include "host/scanner.h"
#include "hostkit/describe.h"
#include "hostkit/recording_factory.h"
#include "tests/support/environment.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrune;
using kestrune::test::temp_folder;

std::string fixture(const std::string& name) {
    return kestrune::test::fixture_path(name + ".dll");
}

std::string described(probe_outcome outcome, const description_record& record,
                      const std::string& path) {
    machine_info info;
    if (outcome != probe_outcome::description) {
        return "outcome " + std::to_string(static_cast<int>(outcome));
    }
    return fill_from_record(info, record, path.c_str(), nullptr)
               ? hostkit::describe_info(info) + info.library_path
               : "unbuildable";
}

TEST(Scanner, DescribesEveryFixtureAsTheProbeInProcess) {
    scanner scan;
    for (const char* name :
         {"scan_generator", "scan_effect", "scan_a", "scan_no_create", "scan_null_info",
          "scan_no_get_info", "scan_faulty_info", "scan_huge_count"}) {
        std::string path = fixture(name);
        description_record there;
        description_record here;
        probe_outcome outcome = probe_outcome::hung;
        ASSERT_TRUE(scan.probe(path.c_str(), outcome, there)) << "no scanner";
        EXPECT_EQ(described(probe_in_process(path.c_str(), here), here, path),
                  described(outcome, there, path))
            << name;
    }
    EXPECT_EQ(1, scan.started) << "one scanner serves them all";
}

// Each folder holds one healthy machine beside bad ones, so that the order is the depth's.
struct scanner_scan : ::testing::Test {
    temp_folder tree;
    kestrune::test::scoped_environment cache{"KESTRUNE_CACHE", tree.at("cache")};
    std::string exits = tree.copy_in(fixture("scan_load_exit"), "Psycle/x/y/z/exit.dll");
    std::string hangs = tree.copy_in(fixture("scan_load_hang"), "Psycle/x/y/z/hang.dll");
    std::string faults = tree.copy_in(fixture("scan_load_fault"), "Psycle/x/y/fault.dll");
    std::string faulty = tree.copy_in(fixture("scan_faulty_info"), "Psycle/x/y/faulty.dll");
    std::string null = tree.copy_in(fixture("scan_null_info"), "Psycle/x/null.dll");
    scan_cache kept;
    int started = 0;

    scanner_scan() {
        tree.copy_in(fixture("scan_c"), "Psycle/x/y/z/c.dll");
        tree.copy_in(fixture("scan_b"), "Psycle/x/y/b.dll");
        tree.copy_in(fixture("scan_a"), "Psycle/x/a.dll");
    }

    std::vector<std::string> scan() {
        hostkit::recording_factory factory;
        auto* collection = new machine_collection(nullptr);
        collection->factory = &factory;
        // Short for the DLL that hangs; less so under Wine, slower to start and load, and under
        // the address sanitizer, whose report of a fault takes its time.
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
        collection->scanner.deadline_ms = 3000;
#else
        collection->scanner.deadline_ms = 500;
#endif
        std::string start = tree.at("Psycle");
        collection->scan_folder(start.data());
        std::vector<std::string> names;
        for (host_info* info : factory.announced) {
            names.push_back(info->full_name);
        }
        kept = collection->cache;
        started = collection->scanner.started;
        collection->release();
        return names;
    }

    probe_outcome outcome(const std::string& path) const {
        const cache_entry* entry = kept.find(path);
        return entry != nullptr ? entry->outcome : probe_outcome::description;
    }
    std::uint32_t count(const std::string& path) const {
        return kept.find(path)->count;
    }
};

TEST_F(scanner_scan, SurvivesEveryBadDllAndRemembersIt) {
    const std::vector<std::string> healthy{"Scan C", "Scan B", "Scan A"};
    ASSERT_EQ(healthy, scan());
    EXPECT_EQ(probe_outcome::ended_scanner, outcome(exits));
    EXPECT_EQ(probe_outcome::hung, outcome(hangs));
    EXPECT_EQ(1u, count(hangs));
#if defined(_WIN32)
    EXPECT_NE(probe_outcome::description, outcome(faults)); // the loader may refuse it
#else
    EXPECT_EQ(probe_outcome::ended_scanner, outcome(faults));
#endif
    EXPECT_EQ(probe_outcome::faulted, outcome(faulty));
    EXPECT_EQ(probe_outcome::not_machine, outcome(null));

    {
        // In process it would hang the host: there it is passed over, and so is every bad one.
        kestrune::test::scoped_environment in_process{"KESTRUNE_SCAN", "in-process"};
        ASSERT_EQ(healthy, scan());
        EXPECT_EQ(1u, count(hangs));
    }
    // The hung one is tried at the next two scans, then passed over: nothing is left to probe.
    for (std::uint32_t hung = 2; hung <= 3; ++hung) {
        ASSERT_EQ(healthy, scan());
        EXPECT_EQ(hung, count(hangs));
    }
    ASSERT_EQ(healthy, scan());
    EXPECT_EQ(0, started) << "nothing unchanged is probed";
    EXPECT_EQ(3u, count(hangs));

    fs::last_write_time(hangs, fs::last_write_time(hangs) + std::chrono::seconds(2));
    ASSERT_EQ(healthy, scan());
    EXPECT_EQ(1, started);
    EXPECT_EQ(1u, count(hangs)) << "a changed file is probed afresh";
}

} // namespace
