// The platform layer, against the real system: folder searches, attributes, libraries, and
// the guard that the runtime destroys machines in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "host/scan_paths.h"
#include "hostkit/library.h"
#include "platform/files.h"
#include "platform/guard.h"
#include "platform/message_box.h"
#include "platform/module.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_paths.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#endif

namespace {

namespace platform = kestrune::platform;
using kestrune::test::temp_folder;

std::set<std::string> search(const std::string& pattern) {
    std::set<std::string> names;
    platform::search_entry entry;
    platform::search_handle handle = platform::find_first(pattern.c_str(), entry);
    if (handle == nullptr) {
        return names;
    }
    do {
        names.insert(entry.name);
    } while (platform::find_next(handle, entry));
    platform::find_close(handle);
    return names;
}

TEST(FolderSearch, StarListsEveryEntryWithTheDotEntries) {
    temp_folder folder;
    folder.write_file("a.dll", "x");
    folder.make_folder(".cache");
    EXPECT_EQ((std::set<std::string>{".", "..", ".cache", "a.dll"}), search(folder.at("*")));
}

TEST(FolderSearch, DllPatternIgnoresCaseAndOtherExtensions) {
    temp_folder folder;
    for (const char* name : {"a.dll", "B.DLL", "c.Dll", "notes.txt", "dll", "x.dll.txt"}) {
        folder.write_file(name, "x");
    }
    folder.make_folder("sub.dll");
    std::set<std::string> found = search(folder.at("*.dll"));
    EXPECT_EQ((std::set<std::string>{"a.dll", "B.DLL", "c.Dll", "sub.dll"}), found);
}

TEST(FolderSearch, AMissingFolderOrNoMatchGivesNoSearch) {
    temp_folder folder;
    platform::search_entry entry;
    EXPECT_EQ(nullptr, platform::find_first(folder.at("missing/*").c_str(), entry));
    EXPECT_EQ(nullptr, platform::find_first(folder.at("*.dll").c_str(), entry));
    EXPECT_EQ(nullptr, platform::find_first("", entry));
    EXPECT_FALSE(platform::find_next(nullptr, entry));
    platform::find_close(nullptr);
}

TEST(FileAttributes, OnlyFoldersHaveTheFolderBit) {
    temp_folder folder;
    std::string file = folder.write_file("a.dll", "x");
    std::string sub = folder.make_folder("x.dll");
    EXPECT_NE(0u, platform::file_attributes(sub.c_str()) & platform::folder_attribute);
    EXPECT_EQ(0u, platform::file_attributes(file.c_str()) & platform::folder_attribute);
    EXPECT_EQ(platform::no_attributes, platform::file_attributes(folder.at("none").c_str()));
}

// A folder is known by what it is, not by the path that leads to it.
TEST(FolderIdentity, SameFolderByAnyPathOtherFoldersDiffer) {
    temp_folder folder;
    std::string a = folder.make_folder("a");
    std::string b = folder.make_folder("b");
    std::string file = folder.write_file("f.dll", "x");
    platform::folder_identity first{}, again{}, other{};
    ASSERT_TRUE(platform::identify_folder(a.c_str(), first));
    std::string detour =
        folder.at("b") + platform::path_separator + ".." + platform::path_separator + "a";
    ASSERT_TRUE(platform::identify_folder(detour.c_str(), again));
    ASSERT_TRUE(platform::identify_folder(b.c_str(), other));
    EXPECT_TRUE(kestrune::same_folder(first, again));
    EXPECT_FALSE(kestrune::same_folder(first, other));
    EXPECT_FALSE(platform::identify_folder(file.c_str(), other));
    EXPECT_FALSE(platform::identify_folder(folder.at("none").c_str(), other));
    EXPECT_FALSE(platform::identify_folder(nullptr, other));
}

platform::folder_identity identity(unsigned long long volume, unsigned long long index,
                                   const char* final_path = "") {
    platform::folder_identity made{volume, index, {}};
    std::strcpy(made.final_path, final_path);
    return made;
}

// Some network and FUSE drives give every folder index 0: such folders are told apart by their
// final paths, so that none is taken for one visited already.
TEST(FolderIdentity, WithoutAnIndexTheFinalPathDecides) {
    EXPECT_TRUE(kestrune::same_folder(identity(7, 42), identity(7, 42)));
    EXPECT_FALSE(kestrune::same_folder(identity(7, 42), identity(8, 42)));
    EXPECT_FALSE(kestrune::same_folder(identity(7, 42), identity(7, 43)));
    EXPECT_TRUE(kestrune::same_folder(identity(7, 0, "/net/a"), identity(7, 0, "/net/a")));
    EXPECT_FALSE(kestrune::same_folder(identity(7, 0, "/net/a"), identity(7, 0, "/net/b")));
    EXPECT_FALSE(kestrune::same_folder(identity(7, 0, "/net/a"), identity(7, 0, "/net/ab")));
    EXPECT_FALSE(kestrune::same_folder(identity(7, 0, "/net/a"), identity(7, 42, "/net/a")));
#if defined(_WIN32)
    EXPECT_TRUE(kestrune::same_folder(identity(7, 0, "\\\\?\\Z:\\Gear"),
                                      identity(7, 0, "\\\\?\\z:\\gear")));
#endif
}

TEST(ModuleFileName, GivesTheExecutablesPathAndCutsShortLikeWin32) {
    char path[1024] = {};
    unsigned length = platform::module_file_name(platform::executable_module(), path, 1000);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strlen(path), length);
    std::string text(path);
    EXPECT_NE(std::string::npos, text.find("platform_test"));
    EXPECT_EQ(hostkit::executable_folder(),
              text.substr(0, text.find_last_of(platform::path_separator)));

    char small[8];
    std::memset(small, '#', sizeof small);
    unsigned cut = platform::module_file_name(platform::executable_module(), small, 4);
    EXPECT_LE(cut, 4u);
    EXPECT_EQ(small[4], '#') << "nothing is written past the size given";
    EXPECT_EQ(0u, platform::module_file_name(nullptr, path, sizeof path));
}

// A library loaded by a relative name keeps the absolute path it was found at, after the
// working folder changed: what lies beside it (the bridge) is found there.
TEST(ModuleFileName, IsAbsoluteForALibraryLoadedByARelativeName) {
    temp_folder folder, elsewhere;
    folder.copy_in(kestrune::test::fixture_path("sibling_normal.dll"), "relative.dll");
    std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    std::string relative = std::string(".") + platform::path_separator + "relative.dll";
    platform::module_handle library = platform::load_library(relative.c_str());
    std::filesystem::current_path(elsewhere.path());
    ASSERT_NE(nullptr, library);
    char name[platform::max_path + 1] = {};
    unsigned length = platform::module_file_name(library, name, platform::max_path);
    char beside[platform::max_path];
    bool found = platform::sibling_path(platform::find_export(library, "zzub_get_signature"),
                                        "kestrune-bridge", beside, sizeof beside);
    platform::free_library(library);
    std::filesystem::current_path(before);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::filesystem::canonical(name),
              std::filesystem::canonical(folder.at("relative.dll")));
    ASSERT_TRUE(found);
    EXPECT_EQ(std::string(beside),
              std::string(name, std::strrchr(name, platform::path_separator) + 1) +
                  "kestrune-bridge");
}

void count_call(void* context);

TEST(Libraries, LoadFindAndFreeByPath) {
    temp_folder folder;
    std::string path =
        folder.copy_in(kestrune::test::fixture_path("sibling_normal.dll"), "copy.dll");
    EXPECT_EQ(nullptr, platform::load_library(folder.at("absent.dll").c_str()));
    std::string text = folder.write_file("text.dll", "not a library");
    EXPECT_EQ(nullptr, platform::load_library(text.c_str()));

    platform::module_handle library = platform::load_library(path.c_str());
    ASSERT_NE(nullptr, library);
    EXPECT_TRUE(hostkit::module_is_loaded(path));
    EXPECT_NE(nullptr, platform::find_export(library, "zzub_get_signature"));
    EXPECT_EQ(nullptr, platform::find_export(library, "GetInfo"));

    char name[platform::max_path + 1] = {};
    ASSERT_GT(platform::module_file_name(library, name, platform::max_path), 0u);
    std::string own(name);
    EXPECT_EQ("copy.dll", own.substr(own.find_last_of(platform::path_separator) + 1));

    // A library's code and the executable's own each lie in their module's image.
    EXPECT_EQ(library,
              platform::module_containing(platform::find_export(library, "zzub_get_signature")));
    EXPECT_EQ(platform::executable_module(),
              platform::module_containing(reinterpret_cast<const void*>(&count_call)));
    EXPECT_EQ(nullptr, platform::module_containing(nullptr));

    platform::free_library(library);
    EXPECT_FALSE(hostkit::module_is_loaded(path));
}

int calls = 0;
void count_call(void* context) {
    ++calls;
    *static_cast<int*>(context) = 42;
}

TEST(GuardedCall, AnswersTrueWhenTheCallReturns) {
    int value = 0;
    calls = 0;
    EXPECT_TRUE(platform::guarded_call(count_call, &value));
    EXPECT_EQ(42, value);
    EXPECT_EQ(1, calls);
}

void throw_int(void*) {
    throw 7;
}

TEST(GuardedCall, SwallowsACppException) {
    unsigned code = 0;
    EXPECT_FALSE(platform::guarded_call(throw_int, nullptr, &code));
    EXPECT_EQ(platform::cxx_exception_code, code);
    EXPECT_FALSE(platform::guarded_call(throw_int, nullptr));
    int value = 0;
    EXPECT_TRUE(platform::guarded_call(count_call, &value)) << "the guard works again after";
}

#if defined(_WIN32)
void access_violation(void*) {
    *static_cast<volatile int*>(nullptr) = 1;
}

void msvc_throw(void*) {
    // What an MSVC-built machine's throw raises: the C++ exception code with its magic number.
    ULONG_PTR arguments[3] = {0x19930520, 0, 0};
    RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 3, arguments);
}

void nested_fault(void* context) {
    *static_cast<int*>(context) = platform::guarded_call(access_violation, nullptr) ? 1 : 2;
    RaiseException(0x20001234, 0, 0, nullptr);
}

void* chain_head() {
    void* head;
    asm volatile("movl %%fs:0, %0" : "=r"(head));
    return head;
}

TEST(GuardedCall, CatchesStructuredExceptions) {
    void* head = chain_head();
    unsigned code = 0;
    EXPECT_FALSE(platform::guarded_call(access_violation, nullptr, &code));
    EXPECT_EQ(head, chain_head()) << "the guard's frame is unlinked after a fault";
    EXPECT_EQ(platform::access_violation_code, code);
    EXPECT_FALSE(platform::guarded_call(msvc_throw, nullptr, &code));
    EXPECT_EQ(head, chain_head());
    EXPECT_EQ(platform::cxx_exception_code, code);
    int value = 0;
    EXPECT_TRUE(platform::guarded_call(count_call, &value));
    EXPECT_EQ(head, chain_head()) << "and after a normal return";
}

TEST(GuardedCall, NestedGuardsEachCatchTheirOwn) {
    int inner = 0;
    void* head = chain_head();
    EXPECT_FALSE(platform::guarded_call(nested_fault, &inner));
    EXPECT_EQ(2, inner);
    EXPECT_EQ(head, chain_head());
}
#else
std::atomic<bool> waiting_to_be_cancelled{false};

void wait_to_be_cancelled(void*) {
    waiting_to_be_cancelled = true;
    for (;;) {
        usleep(1000); // a cancellation point
    }
}

void* run_cancelled_call(void* returned) {
    *static_cast<bool*>(returned) = platform::guarded_call(wait_to_be_cancelled, nullptr);
    return nullptr;
}

// pthread_cancel ends a thread by glibc's forced unwind, which must pass through the guard: a
// guard that swallowed it would end the process.
TEST(GuardedCall, LetsACancelledThreadEnd) {
    bool returned = true;
    pthread_t thread;
    ASSERT_EQ(0, pthread_create(&thread, nullptr, run_cancelled_call, &returned));
    while (!waiting_to_be_cancelled) {
        usleep(100);
    }
    ASSERT_EQ(0, pthread_cancel(thread));
    void* result = nullptr;
    ASSERT_EQ(0, pthread_join(thread, &result));
    EXPECT_EQ(PTHREAD_CANCELED, result);
    EXPECT_TRUE(returned) << "the guarded call never returned, nor answered";
    int value = 0;
    EXPECT_TRUE(platform::guarded_call(count_call, &value));
}

TEST(MessageBox, WritesCaptionAndTextToStandardErrorAndAnswersOne) {
    testing::internal::CaptureStderr();
    int answer = platform::message_box("the text", "the caption", 0);
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(1, answer);
    EXPECT_NE(std::string::npos, written.find("the caption"));
    EXPECT_NE(std::string::npos, written.find("the text"));
}
#endif

} // namespace
