// The folder scan and the probe, in process, over trees of fixture machines in a fresh folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/machine_collection.h"
#include "host/nothrow_list.h"
#include "hostkit/library.h"
#include "hostkit/recording_factory.h"
#include "tests/support/environment.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_paths.h"

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#endif

namespace {

using kestrune::machine_collection;
using kestrune::test::temp_folder;

std::string fixture(const std::string& name) {
    return kestrune::test::fixture_path(name + ".dll");
}

struct scan_result {
    std::vector<std::string> names;
    std::size_t kept = 0;
};

// Scans folder with a new collection, then releases it; the names are read before.
scan_result scan(std::string folder) {
    hostkit::recording_factory factory;
    auto* collection = new machine_collection(nullptr);
    collection->factory = &factory;
    collection->scan_folder(folder.data());
    scan_result result;
    for (kestrune::host_info* info : factory.announced) {
        result.names.push_back(info->full_name);
    }
    result.kept = collection->infos.size();
    collection->release();
    return result;
}

TEST(FolderScan, SubfoldersComeFirstDepthFirst) {
    temp_folder tree;
    tree.copy_in(fixture("scan_a"), "Psycle/a.dll");
    tree.copy_in(fixture("scan_b"), "Psycle/Sub/b.dll");
    tree.copy_in(fixture("scan_c"), "Psycle/Sub/Deep/c.dll");
    scan_result result = scan(tree.at("Psycle/"));
    EXPECT_EQ((std::vector<std::string>{"Scan C", "Scan B", "Scan A"}), result.names);
    EXPECT_EQ(3u, result.kept);
}

TEST(FolderScan, DotFoldersAreSearchedAndFolderNamedDllIsNoMachine) {
    temp_folder tree;
    tree.copy_in(fixture("scan_a"), "Psycle/.cache/hidden.dll");
    tree.copy_in(fixture("scan_b"), "Psycle/x.dll/inner.dll");
    scan_result result = scan(tree.at("Psycle"));
    std::vector<std::string> names = result.names;
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"Scan A", "Scan B"}), names);
}

TEST(FolderScan, UpperCaseExtensionIsAMachineToo) {
    temp_folder tree;
    tree.copy_in(fixture("scan_a"), "Psycle/LOUD.DLL");
    EXPECT_EQ((std::vector<std::string>{"Scan A"}), scan(tree.at("Psycle")).names);
}

// Passed over and unloaded, except one that faulted while it described itself: it stays
// loaded for good, as its detach code would run in whatever state the fault left.
TEST(FolderScan, CandidatesThatDoNotQualifyArePassedOver) {
    kestrune::test::scoped_environment in_process{"KESTRUNE_SCAN", "in-process"};
    temp_folder tree;
    tree.write_file("Psycle/readme.dll", "not a library at all");
    std::vector<std::string> paths = {
        tree.copy_in(fixture("scan_no_get_info"), "Psycle/no_get_info.dll"),
        tree.copy_in(fixture("scan_null_info"), "Psycle/null_info.dll"),
        tree.copy_in(fixture("scan_huge_count"), "Psycle/huge_count.dll"),
    };
    std::string faulty = tree.copy_in(fixture("scan_faulty_info"), "Psycle/faulty_info.dll");
    tree.copy_in(fixture("scan_no_create"), "Psycle/sub/no_create.dll");
    scan_result result = scan(tree.at("Psycle"));
    EXPECT_EQ((std::vector<std::string>{"Scan No Create"}), result.names)
        << "a machine without CreateMachine is announced; only its instances fail";
    EXPECT_EQ(1u, result.kept);
    for (const std::string& path : paths) {
        EXPECT_FALSE(hostkit::module_is_loaded(path)) << path;
    }
    EXPECT_TRUE(hostkit::module_is_loaded(faulty));
}

#if defined(_WIN32)
// What the process holds: its commit charge (Wine counts only the anonymous pages in use, and
// answers PrivateUsage 0), and the bytes of every busy block in its heaps, which count a block
// whose pages were never touched too.
struct memory_held {
    std::size_t committed = 0;
    std::size_t in_heaps = 0;
};

memory_held memory_now() {
    memory_held held;
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        held.committed = counters.PagefileUsage;
    }
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD h = 0; h < count && h < 64; ++h) {
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[h], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
                held.in_heaps += entry.cbData;
            }
        }
    }
    return held;
}

// A description whose param_count of a million runs into an unreadable page is refused before it
// is read (no description has that many parameters): nothing of it is kept, scan after scan, its
// DLL is freed, and its neighbour is announced.
TEST(FolderScan, ADescriptionThatFaultsWhileReadLeavesNothingAllocated) {
    kestrune::test::scoped_environment in_process{"KESTRUNE_SCAN", "in-process"};
    temp_folder tree;
    std::string lying = tree.copy_in(fixture("msvc_scan_lying"), "Psycle/lying.dll");
    tree.copy_in(fixture("scan_a"), "Psycle/sibling.dll");
    const std::vector<std::string> sibling = {"Scan A"};
    ASSERT_EQ(sibling, scan(tree.at("Psycle")).names);
    const memory_held before = memory_now();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(sibling, scan(tree.at("Psycle")).names);
    }
    const memory_held after = memory_now();
    const std::size_t megabyte = 1u << 20;
    EXPECT_LE(after.committed, before.committed + megabyte) << before.committed;
    EXPECT_LE(after.in_heaps, before.in_heaps + megabyte) << before.in_heaps;
    EXPECT_FALSE(hostkit::module_is_loaded(lying));
}
#endif

TEST(FolderScan, NoMachineStaysLoadedAndDescriptionsOutliveTheirDll) {
    temp_folder tree;
    std::string generator = tree.copy_in(fixture("scan_generator"), "Psycle/g.dll");
    std::string effect = tree.copy_in(fixture("scan_effect"), "Psycle/fx/e.dll");
    hostkit::recording_factory factory;
    auto* collection = new machine_collection(nullptr);
    collection->factory = &factory;
    std::string start = tree.at("Psycle");
    collection->scan_folder(start.data());
    EXPECT_FALSE(hostkit::module_is_loaded(generator));
    EXPECT_FALSE(hostkit::module_is_loaded(effect));
    ASSERT_EQ(2u, factory.announced.size());
    ASSERT_EQ(2u, collection->infos.size());
    EXPECT_EQ(collection->infos[0].get(), factory.announced[0]);
    EXPECT_STREQ("Scan Effect\tFX 2", factory.announced[0]->full_name);
    EXPECT_STREQ("Scan Generator", factory.announced[1]->full_name);
    EXPECT_STREQ("Power", factory.announced[1]->global_params()[0]->title);
    EXPECT_EQ(generator, collection->infos[1]->library_path);
    collection->release();
}

TEST(FolderScan, MissingOrEmptyPathsScanNothing) {
    temp_folder tree;
    EXPECT_TRUE(scan(tree.at("absent")).names.empty());
    EXPECT_TRUE(scan("").names.empty());
    hostkit::recording_factory factory;
    auto* collection = new machine_collection(nullptr);
    collection->factory = &factory;
    collection->scan_folder(nullptr);
    collection->probe_machine(nullptr);
    collection->probe_machine("");
    EXPECT_TRUE(factory.announced.empty());
    collection->release();
}

#if !defined(_WIN32)
// Windows itself can't create these paths; natively they are made and must be passed over.
TEST(FolderScan, PathsBeyondTheLimitArePassedOver) {
    temp_folder tree;
    std::string start = tree.at("Psycle");
    std::size_t base = start.size() + 1;
    ASSERT_LT(base + 20, 250u);
    std::string deep(250 - base, 'd'); // a folder whose own path has 250 characters
    tree.copy_in(fixture("scan_a"), "Psycle/" + deep + "/a.dll");        // 256: kept
    tree.copy_in(fixture("scan_b"), "Psycle/" + deep + "/bbbbbbbb.dll"); // 263: passed over
    tree.copy_in(fixture("scan_c"), "Psycle/" + deep + "/" + std::string(12, 'f') + "/c.dll");
    std::vector<std::string> names = scan(start).names;
    EXPECT_EQ((std::vector<std::string>{"Scan A"}), names);
}
#endif

#if !defined(_WIN32)
// Linked folders are followed, and each real folder is searched once however many paths lead
// to it: links back up the tree end there, and a shared folder linked in from outside is found.
TEST(FolderScan, LinkedFoldersAreSearchedOnce) {
    temp_folder tree;
    tree.copy_in(fixture("scan_a"), "Psycle/a.dll");
    tree.copy_in(fixture("scan_b"), "Psycle/Sub/b.dll");
    tree.copy_in(fixture("scan_c"), "Shared/c.dll");
    std::filesystem::create_directory_symlink(tree.at("Psycle"), tree.at("Psycle/Sub/up"));
    std::filesystem::create_directory_symlink(tree.at("Psycle"), tree.at("Psycle/Sub/again"));
    std::filesystem::create_directory_symlink(tree.at("Psycle/Sub"), tree.at("Psycle/side"));
    std::filesystem::create_directory_symlink(tree.at("Shared"), tree.at("Psycle/shared"));
    std::filesystem::create_directory_symlink(tree.at("Shared"), tree.at("Psycle/Sub/twice"));
    std::vector<std::string> names = scan(tree.at("Psycle")).names;
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"Scan A", "Scan B", "Scan C"}), names);
    EXPECT_EQ(names, [&] {
        std::vector<std::string> again = scan(tree.at("Psycle")).names; // a new scan, the same
        std::sort(again.begin(), again.end());
        return again;
    }());
}
#endif

TEST(Collection, SetupWithoutFactoryScansNothing) {
    auto* collection = new machine_collection(nullptr);
    hostkit::recording_factory factory;
    collection->factory = &factory;
    collection->setup(nullptr);
    EXPECT_EQ(nullptr, collection->factory);
    EXPECT_EQ(0u, collection->infos.size());
    std::string path = fixture("scan_a");
    collection->probe_machine(path.c_str());
    EXPECT_EQ(0u, collection->infos.size()) << "no factory, no probe";
    collection->release();
}

TEST(Collection, AnswersNoUriAndNoDescriptionByUri) {
    temp_folder tree;
    tree.copy_in(fixture("scan_a"), "Psycle/a.dll");
    hostkit::recording_factory factory;
    auto* collection = new machine_collection(nullptr);
    collection->factory = &factory;
    std::string start = tree.at("Psycle");
    collection->scan_folder(start.data());
    ASSERT_EQ(1u, factory.announced.size());
    collection->set_option("key", "value");
    EXPECT_EQ(nullptr, collection->collection_uri());
    EXPECT_EQ(nullptr, collection->info_for_uri(factory.announced[0]->identity_uri, nullptr));
    EXPECT_EQ(1u, collection->infos.size());
    collection->release();
}

// The collection's lists grow past their first storage with every item kept, in order, and
// owned: clearing destroys them.
TEST(NothrowList, GrowsKeepingItemsInOrderAndOwnsThem) {
    auto counter = std::make_shared<int>(0);
    kestrune::nothrow_list<std::shared_ptr<int>> list;
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(list.push(counter));
    }
    EXPECT_EQ(40u, list.size());
    EXPECT_EQ(41, counter.use_count());
    EXPECT_EQ(counter, list[39]);

    kestrune::nothrow_list<int> numbers;
    for (int i = 0; i < 40; ++i) {
        numbers.push(i);
    }
    int expected = 0;
    for (int number : numbers) {
        EXPECT_EQ(expected++, number);
    }
    list.clear();
    EXPECT_EQ(0u, list.size());
    EXPECT_EQ(1, counter.use_count());
}

} // namespace
