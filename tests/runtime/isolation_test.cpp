// Machines in a bridge process of their own: what reaches the host when a machine hangs, ends
// its process or breaks it, that an isolated machine sounds and stores exactly as in process,
// when an instance runs isolated, and the plain pieces of what crosses the process line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/machine_collection.h"
#include "hostkit/library.h"
#include "hostkit/master_info.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "runtime/about.h"
#include "tests/runtime/runtime_support.h"
#include "tests/support/test_paths.h"

#if !defined(_WIN32)
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace kestrune::test {
namespace {

// What the About box shows for an instance (natively the box is a line on standard error).
std::string shown_about(instance& plugin, const machine_info& info) {
#if defined(_WIN32)
    return about_text(info, plugin->fault(), plugin->about_process()); // the box isn't seen
#else
    (void)info;
    ::testing::internal::CaptureStderr();
    plugin->run_command(1);
    std::string line = ::testing::internal::GetCapturedStderr();
    std::string prefix = std::string(about_caption) + ": ";
    EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
    return line.substr(prefix.size(), line.size() - prefix.size() - 1);
#endif
}

// The bytes this process has mapped (natively; 0 on Windows, where the test doesn't ask).
std::size_t mapped_bytes() {
#if defined(_WIN32)
    return 0;
#else
    unsigned long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm != nullptr) {
        if (std::fscanf(statm, "%lu", &pages) != 1) {
            pages = 0;
        }
        std::fclose(statm);
    }
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
// How many descriptors this process has open.
int open_descriptors() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    while (folder != nullptr && readdir(folder) != nullptr) {
        ++count;
    }
    if (folder != nullptr) {
        closedir(folder);
    }
    return count;
}
#endif

// Every global value "no change", and no notes.
void clear_values(instance& plugin, const machine_info& info) {
    const value_layout& layout = plugin->global_layout();
    param_list params = info.global_params();
    for (int i = 0; i < layout.count; ++i) {
        auto empty = static_cast<unsigned>(params[static_cast<std::size_t>(i)]->empty_value);
        plugin->global_values[layout.offsets[i]] = static_cast<unsigned char>(empty);
        if (layout.is_word[i]) {
            plugin->global_values[layout.offsets[i] + 1] = static_cast<unsigned char>(empty >> 8);
        }
    }
    if (plugin->track_values != nullptr) {
        std::memset(plugin->track_values, 0, static_cast<std::size_t>(plugin->track_records()) * 3);
    }
}

// One block of count samples rendered from input, both channels.
struct block {
    explicit block(int count, float input = 0.0f)
        : in(static_cast<std::size_t>(count), input), left(in.size()), right(in.size()) {}
    bool render(instance& plugin) {
        float* inputs[2] = {in.data(), in.data()};
        float* outputs[2] = {left.data(), right.data()};
        return plugin->render(inputs, outputs, static_cast<int>(in.size()), 2);
    }
    std::vector<float> in, left, right;
};

class Isolation : public ::testing::Test {
protected:
    // A description of the DLL at path whose instances run as mode says.
    std::unique_ptr<machine_info> describe(const std::string& path, isolation_setting& mode) {
        auto info = describe_library(path);
        EXPECT_NE(info, nullptr) << path;
        if (info != nullptr) {
            info->isolation = &mode;
        }
        return info;
    }

    void start(instance& plugin, host_archive* archive = nullptr) {
        plugin->master_info = &master;
        plugin->start(archive);
    }

    // The About box's end: the Process line, and the Faulted line when the machine faulted.
    void expect_about_ends(instance& plugin, const machine_info& info, const std::string& ending) {
        std::string text = shown_about(plugin, info);
        ASSERT_GE(text.size(), ending.size()) << text;
        EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
        EXPECT_EQ(text.substr(0, text.size() - ending.size()), about_text(info));
    }

    isolation_setting always{isolation_mode::always};
    isolation_setting after_fault{isolation_mode::after_fault};
    isolation_setting never{isolation_mode::never};
    host_master_info master = hostkit::make_master_info(140, 6, 48000);
};

TEST(FaultCause, AnEndedBridgeTellsItsExitCode) {
    // An exit code reads as written, and a Windows exception's code in hexadecimal.
    machine_fault ended{"render_block", 0, 0, true, 3};
    EXPECT_EQ(fault_cause(ended), "process ended (exit code 3)");
    ended.exit_code = -1;
    EXPECT_EQ(fault_cause(ended), "process ended (exit code -1)");
    ended.exit_code = static_cast<int>(0xC0000409u);
    EXPECT_EQ(fault_cause(ended), "process ended (exit code 0xC0000409)");
}

TEST(IsolationOption, OnlyItsKeyAndValuesChangeAnything) {
    machine_collection& collection = *new machine_collection(nullptr);
    EXPECT_EQ(collection.isolation.load(), isolation_mode::after_fault);
    for (auto [key, value] : {std::pair<const char*, const char*>{"kestrune.isolate", "sometimes"},
                              {"kestrune.isolate", "Always"},
                              {"kestrune.isolate", nullptr},
                              {nullptr, "always"},
                              {"kestrune.isolated", "always"},
                              {"isolate", "always"},
                              {"", ""}}) {
        collection.set_option(key, value);
        EXPECT_EQ(collection.isolation.load(), isolation_mode::after_fault)
            << (key ? key : "(null)") << " " << (value ? value : "(null)");
    }
    collection.set_option("kestrune.isolate", "always");
    EXPECT_EQ(collection.isolation.load(), isolation_mode::always);
    collection.set_option("kestrune.other", "never");
    EXPECT_EQ(collection.isolation.load(), isolation_mode::always);
    collection.set_option("kestrune.isolate", "never");
    EXPECT_EQ(collection.isolation.load(), isolation_mode::never);
    collection.set_option("kestrune.isolate", "after-fault");
    EXPECT_EQ(collection.isolation.load(), isolation_mode::after_fault);
    collection.release();
}

// The demo synth playing two notes, isolated and in process: the same samples, bit for bit,
// block after block, and the same stored state, which each restores from the other.
TEST_F(Isolation, TheDemoSynthSoundsAndStoresTheSameIsolated) {
    std::string path =
        join_path(join_path(join_path(hostkit::executable_folder(), "Gear"), "Psycle"),
                  "kestrune-demo-synth.dll");
    auto isolated_info = describe(path, always);
    auto local_info = describe(path, never);
    ASSERT_TRUE(isolated_info && local_info);
    instance isolated(*isolated_info), local(*local_info);
    for (instance* plugin : {&isolated, &local}) {
        start(*plugin);
        (*plugin)->set_tracks(2);
        clear_values(*plugin, *isolated_info);
        (*plugin)->global_values[0] = 1;   // Waveform: Saw
        (*plugin)->track_values[0] = 0x41; // A-4 on track 0...
        (*plugin)->track_values[3] = 0x34; // ...and E-3 on track 1
        (*plugin)->take_events();
    }
    EXPECT_TRUE(isolated->isolated());
    EXPECT_FALSE(local->isolated());
    for (int round = 0; round < 20; ++round) {
        int count = round == 7 ? 20000 : 256; // one block larger than the block was made for
        block a(count), b(count);
        ASSERT_EQ(a.render(isolated), b.render(local)) << round;
        ASSERT_EQ(std::memcmp(a.left.data(), b.left.data(), a.left.size() * 4), 0) << round;
        ASSERT_EQ(std::memcmp(a.right.data(), b.right.data(), a.right.size() * 4), 0) << round;
    }
    EXPECT_STREQ(isolated->value_text(0, 2), "Square");
    EXPECT_STREQ(local->value_text(0, 2), "Square");

    memory_archive stored_isolated, stored_local;
    isolated->store_state(&stored_isolated);
    local->store_state(&stored_local);
    ASSERT_FALSE(stored_isolated.entries[""].empty());
    EXPECT_EQ(stored_isolated.entries[""], stored_local.entries[""]);

    // Restored across: each stores again exactly what the other stored.
    instance isolated_again(*isolated_info), local_again(*local_info);
    start(isolated_again, &stored_local);
    start(local_again, &stored_isolated);
    memory_archive again_isolated, again_local;
    isolated_again->store_state(&again_isolated);
    local_again->store_state(&again_local);
    EXPECT_EQ(again_isolated.entries[""], stored_local.entries[""]);
    EXPECT_EQ(again_local.entries[""], stored_isolated.entries[""]);
}

// The About box of an instance meant to run isolated says where it runs.
TEST_F(Isolation, TheAboutBoxSaysWhichProcess) {
    auto info = describe(fixture_path("isolation_plain.dll"), always);
    ASSERT_TRUE(info);
    instance plugin(*info);
    start(plugin);
    expect_about_ends(plugin, *info, "\n\nProcess:\town");
    EXPECT_STREQ(plugin->value_text(0, 150), "loud");
    block b(64, 0.5f);
    EXPECT_TRUE(b.render(plugin));
    EXPECT_EQ(b.left[63], 0.5f);

    auto local_info = describe(fixture_path("isolation_plain.dll"), never);
    instance local(*local_info);
    start(local);
    EXPECT_EQ(shown_about(local, *local_info), about_text(*local_info)) << "no Process line";
}

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// The four queries answered in the bridge from the values each call carries, and a message
// box shown on the host's side, whose answer reaches the machine.
TEST_F(Isolation, TheCallbackIsAnsweredAcross) {
    auto info = describe(fixture_path("isolation_asks.dll"), always);
    ASSERT_TRUE(info);
    instance plugin(*info);
#if defined(_WIN32)
    start(plugin); // the box isn't seen
    const int box_answer = platform::message_box("Asked from start_up", "Isolation", 0);
#else
    ::testing::internal::CaptureStderr();
    start(plugin);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Isolation: Asked from start_up\n");
    const int box_answer = 1;
#endif
    master = hostkit::make_master_info(90, 8, 22050); // the host changes its timing
    block b(16);
    EXPECT_FALSE(b.render(plugin));
    memory_archive archive;
    plugin->store_state(&archive);
    const std::vector<unsigned char>& blob = archive.entries[""];
    ASSERT_EQ(blob.size(), 8u + 9 * 4);
    int answers[9];
    std::memcpy(answers, blob.data() + 8, sizeof answers);
    host_master_info first = hostkit::make_master_info(140, 6, 48000);
    EXPECT_EQ(answers[0], first.samples_per_tick);
    EXPECT_EQ(answers[1], 48000);
    EXPECT_EQ(answers[2], 140);
    EXPECT_EQ(answers[3], 6);
    EXPECT_EQ(answers[4], box_answer);
    EXPECT_EQ(answers[5], master.samples_per_tick);
    EXPECT_EQ(answers[6], 22050);
    EXPECT_EQ(answers[7], 90);
    EXPECT_EQ(answers[8], 8);
}

// A machine that breaks its process, one way each: the host's call answers as without a
// machine, at once (the process's end is seen, not waited out), the About box tells the call
// and the cause, every later call reaches nothing, and a new start brings a new bridge.
void expect_quiet(instance& plugin) {
    block b(32, 0.5f);
    EXPECT_FALSE(b.render(plugin));
    EXPECT_EQ(b.left[0], 0.0f);
    EXPECT_STREQ(plugin->value_text(0, 150), "");
    memory_archive archive;
    plugin->store_state(&archive);
    EXPECT_TRUE(archive.entries[""].empty());
    EXPECT_FALSE(plugin->is_muted(0));
    plugin->halt();
    plugin->take_events();
}

// How a bridge ends after a double free (glibc's abort) or a write to address 0 (SIGSEGV), as
// 128 plus the signal; built with AddressSanitizer, the sanitizer reports either and exits 1.
// On Windows a fault that nothing handles ends it with the fault's code.
constexpr const char* heap_or_segv_end(int code) {
#if defined(_WIN32)
    (void)code;
    return "process ended (exit code 0xC0000005)";
#elif defined(__SANITIZE_ADDRESS__)
    (void)code;
    return "process ended (exit code 1)";
#else
    return code == 134 ? "process ended (exit code 134)" : "process ended (exit code 139)";
#endif
}

// How long a call may take whose process ended: at once natively. Under Wine, and more so in
// the emulated VM, a process takes a while to start (start_up's case includes a start) and to
// end, so there the bound is the call's deadline: the cause, "process ended" and not "no
// answer", tells that the end was seen before it.
#if defined(_WIN32)
constexpr double at_once(double deadline) {
    return deadline;
}
#else
constexpr double at_once(double) {
    return 1.5;
}
#endif

struct broken_case {
    const char* fixture;
    const char* call;
    const char* cause;
    double at_least; // seconds the faulting call takes at least...
    double at_most;  // ...and at most
    // The cause when the machine's break arrives as a fault that the bridge's guard catches,
    // for a break that does that on some systems; null: never.
    const char* caught_cause = nullptr;
};

class Broken : public Isolation, public ::testing::WithParamInterface<broken_case> {};

TEST_P(Broken, TheCallAnswersAsWithoutAMachineAndANewStartBringsANewBridge) {
    const broken_case& c = GetParam();
    auto info = describe(fixture_path(std::string(c.fixture) + ".dll"), always);
    ASSERT_TRUE(info);
    instance plugin(*info);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        auto begun = clock_type::now();
        start(plugin);
        ASSERT_TRUE(plugin->isolated());
        if (std::strcmp(c.call, "start_up") != 0) {
            EXPECT_EQ(plugin->fault().call, nullptr);
            begun = clock_type::now();
            if (std::strcmp(c.call, "describe") == 0) {
                EXPECT_STREQ(plugin->value_text(0, 150), "");
            } else {
                block b(256, 0.5f);
                bool rendered = b.render(plugin);
                // The machine's own thread faults 50 ms after start_up: until then it renders.
                auto waited = clock_type::now();
                while (rendered && std::strcmp(c.fixture, "isolation_thread_fault") == 0 &&
                       seconds_since(waited) < 10.0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    begun = clock_type::now();
                    rendered = b.render(plugin);
                }
                EXPECT_FALSE(rendered);
                EXPECT_EQ(b.left[0], 0.0f);
                EXPECT_EQ(b.right[255], 0.0f);
            }
        }
        double took = seconds_since(begun);
        EXPECT_GE(took, c.at_least);
        EXPECT_LT(took, c.at_most);
        ASSERT_NE(plugin->fault().call, nullptr);
        EXPECT_STREQ(plugin->fault().call, c.call);
        const char* cause =
            c.caught_cause != nullptr && !plugin->fault().process_ended ? c.caught_cause : c.cause;
        expect_about_ends(plugin, *info,
                          std::string("\n\nProcess:\town\n\nFaulted:\t") + c.call + " (" + cause +
                              ")");
        expect_quiet(plugin);
    }
}

const broken_case broken_cases[] = {
    broken_case{"isolation_hang_render", "render_block", "no answer in 2 s", 1.9, 10.0},
    broken_case{"isolation_exit_start_up", "start_up", "process ended (exit code 3)", 0.0,
                at_once(10)},
#if defined(_WIN32)
    // The C runtime's abort ends the process with 3.
    broken_case{"isolation_abort_describe", "describe", "process ended (exit code 3)", 0.0,
                at_once(30)},
    broken_case{"isolation_exit_process_render", "render_block", "process ended (exit code 7)", 0.0,
                at_once(2)},
    // Windows and Wine end the process at once; Wine in the emulated VM doesn't know the
    // instruction for what it is, and raises an access violation instead.
    broken_case{"isolation_fastfail_render", "render_block", "process ended (exit code 0xC0000409)",
                0.0, at_once(2), "access violation"},
    // An MSVC-built machine's fault is caught by the bridge's own guard.
    broken_case{"msvc_fault_render_block_av", "render_block", "access violation", 0.0, at_once(2)},
#else
    broken_case{"isolation_abort_describe", "describe", "process ended (exit code 134)", 0.0,
                at_once(30)},
    broken_case{"isolation_double_free_render", "render_block", heap_or_segv_end(134), 0.0,
                at_once(2)},
#endif
    broken_case{"isolation_thread_fault", "render_block", heap_or_segv_end(139), 0.0, at_once(2)}};

INSTANTIATE_TEST_SUITE_P(Isolation, Broken, ::testing::ValuesIn(broken_cases),
                         [](const ::testing::TestParamInfo<broken_case>& tested) {
                             std::string name = tested.param.fixture;
                             return name.rfind("isolation_", 0) == 0
                                        ? name.substr(sizeof "isolation_" - 1)
                                        : name;
                         });

// A fault in a bridge costs no state either: a store writes the blob that the machine was
// started from, and a new start hands it to the machine in the new bridge, which gives it back.
TEST_F(Isolation, AStoreAfterAFaultWritesTheStateItWasStartedFrom) {
    auto info = describe(fixture_path("isolation_abort_describe.dll"), always);
    ASSERT_TRUE(info);
    memory_archive song;
    song.entries[""] = {1, 0, 0, 0, 4, 0, 0, 0, 0xC0, 0xFF, 0xEE, 0x01};
    instance plugin(*info);
    auto store = [&] {
        memory_archive archive;
        plugin->store_state(&archive);
        return archive.entries[""];
    };
    start(plugin, &song);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(plugin->isolated());
        EXPECT_EQ(store(), song.entries[""]) << "taken from the machine";
        EXPECT_STREQ(plugin->value_text(0, 150), "");
        ASSERT_STREQ(plugin->fault().call, "describe");
        EXPECT_EQ(store(), song.entries[""]) << "kept";
        start(plugin);
    }
}

// With the default setting, a machine that faulted in process runs in a bridge from its next
// start on, and so does every later instance of its DLL; it renders there as it should.
TEST_F(Isolation, AfterAFaultInProcessTheNextStartRunsInABridge) {
    logging_fixture machine("rt_generator");
    ASSERT_TRUE(machine.loaded());
    auto info = machine.describe();
    ASSERT_TRUE(info);
    info->isolation = &after_fault;
    instance plugin(*info);
    start(plugin);
    EXPECT_FALSE(plugin->isolated());
    EXPECT_EQ(shown_about(plugin, *info), about_text(*info)) << "not meant to run isolated";
    std::strcpy(machine.state().fault_call, "render_block");
    machine.state().fault_kind = FIXTURE_FAULT_THROW;
    block faulting(8, 0.5f);
    EXPECT_FALSE(faulting.render(plugin));
    ASSERT_STREQ(plugin->fault().call, "render_block");

    start(plugin); // the bridge's copy of the DLL knows nothing of the armed fault
    EXPECT_TRUE(plugin->isolated());
    EXPECT_EQ(plugin->fault().call, nullptr);
    block b(256, 0.5f);
    EXPECT_TRUE(b.render(plugin));
    EXPECT_EQ(b.left[0], 0.5f);
    EXPECT_EQ(b.right[255], 0.5f);
    expect_about_ends(plugin, *info, "\n\nProcess:\town");

    instance later(*info);
    start(later);
    EXPECT_TRUE(later->isolated());
    EXPECT_TRUE(b.render(later));

    info->isolation = &never; // and "never" means in process, whatever faulted
    instance local(*info);
    machine.state().fault_kind = 0;
    start(local);
    EXPECT_FALSE(local->isolated());
    EXPECT_TRUE(b.render(local));
}

// --- A machine against its own bridge --------------------------------------------------------

// A state far larger than the block crosses whole, both ways, in pieces: the host's mapping of
// the block keeps its working size.
TEST_F(Isolation, A64MBStateCrossesWholeAndTheBlockKeepsItsSize) {
    auto info = describe(fixture_path("isolation_big_state.dll"), always);
    ASSERT_TRUE(info);
    instance plugin(*info), restored(*info);
    start(plugin);
    ASSERT_TRUE(plugin->isolated());
    std::size_t mapped_before = mapped_bytes();
    {
        memory_archive stored, again;
        plugin->store_state(&stored);
        const std::vector<unsigned char>& blob = stored.entries[""];
        constexpr std::size_t words = 16 * 1024 * 1024;
        ASSERT_EQ(blob.size(), 8 + 4 * words);
        auto word_at = [](const std::vector<unsigned char>& bytes, std::size_t i) {
            std::uint32_t word;
            std::memcpy(&word, bytes.data() + 8 + 4 * i, 4);
            return word;
        };
        for (std::size_t i = 0; i < words; i += 4093) {
            ASSERT_EQ(word_at(blob, i), i) << i;
        }
        ASSERT_EQ(word_at(blob, words - 1), words - 1);
        start(restored, &stored); // its load_data found word 0, and stores one more
        restored->store_state(&again);
        ASSERT_EQ(again.entries[""].size(), blob.size());
        EXPECT_EQ(word_at(again.entries[""], words - 1), words);
    }
#if !defined(_WIN32)
    // Each instance keeps the last state it handed or took (for a fault), one copy each.
    std::size_t kept = static_cast<std::size_t>(plugin->kept_blob().size) +
                       static_cast<std::size_t>(restored->kept_blob().size);
    EXPECT_EQ(kept, 2u * 64 * 1024 * 1024);
#if !defined(__SANITIZE_ADDRESS__) // the sanitizer keeps freed blocks mapped for a while
    EXPECT_LT(mapped_bytes(), mapped_before + kept + 8 * 1024 * 1024)
        << "before: " << mapped_before;
#else
    (void)mapped_before;
#endif
#else
    (void)mapped_before;
#endif
}

// A machine that loads in process but can't be had in its bridge (a DLL it needs lies only
// where the host's process finds it) runs in process; the About box says so.
TEST_F(Isolation, AMachineThatCantBeHadInItsBridgeRunsInProcess) {
    auto info = describe(fixture_path("isolation_not_in_bridge.dll"), always);
    ASSERT_TRUE(info);
    instance plugin(*info);
    start(plugin);
    EXPECT_FALSE(plugin->isolated());
    EXPECT_NE(plugin->loaded_machine(), nullptr);
    expect_about_ends(plugin, *info, "\n\nProcess:\thost");
}

#if !defined(_WIN32)
// A machine that cuts the shared block to nothing: the block is sealed against shrinking, so
// the host goes on, and so does the machine, even as the block grows.
TEST_F(Isolation, AMachineCantShrinkTheBlockUnderTheHost) {
    auto info = describe(fixture_path("isolation_truncate_render.dll"), always);
    ASSERT_TRUE(info);
    instance plugin(*info);
    start(plugin);
    ASSERT_TRUE(plugin->isolated());
    for (int count : {256, 20000, 256}) {
        block b(count, 0.5f);
        EXPECT_TRUE(b.render(plugin)) << count;
        EXPECT_EQ(b.left[static_cast<std::size_t>(count) - 1], 0.5f) << count;
    }
}

// A bridge whose machine forks a child that keeps every descriptor, then exits: its end is seen
// at once through the process itself, not at the call's deadline.
TEST_F(Isolation, AChildThatKeepsTheChannelDoesntHideTheBridgesEnd) {
    auto info = describe(fixture_path("isolation_orphan_render.dll"), always);
    ASSERT_TRUE(info);
    instance plugin(*info);
    start(plugin);
    ASSERT_TRUE(plugin->isolated());
    auto begun = clock_type::now();
    block b(256, 0.5f);
    EXPECT_FALSE(b.render(plugin));
    EXPECT_LT(seconds_since(begun), 1.5);
    expect_about_ends(plugin, *info,
                      "\n\nProcess:\town\n\nFaulted:\trender_block (process ended (exit code 5))");
}

#if !defined(__SANITIZE_ADDRESS__) // the sanitizers' own checks need descriptors too
// Without a descriptor to spare for a bridge, an isolated start runs in process, and leaves no
// descriptor behind.
TEST_F(Isolation, WithoutDescriptorsForABridgeTheMachineRunsInProcess) {
    auto info = describe(fixture_path("isolation_plain.dll"), always);
    ASSERT_TRUE(info);
    int open_before = open_descriptors();
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    rlimit lowered = limit;
    lowered.rlim_cur = static_cast<rlim_t>(open_before + 64);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> taken; // all but one descriptor, for the library's own load
    for (int held; (held = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        taken.push_back(held);
    }
    close(taken.back());
    taken.pop_back();
    auto plugin = std::make_unique<instance>(*info);
    start(*plugin);
    for (int held : taken) {
        close(held);
    }
    setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_FALSE((*plugin)->isolated());
    EXPECT_NE((*plugin)->loaded_machine(), nullptr);
    expect_about_ends(*plugin, *info, "\n\nProcess:\thost");
    plugin.reset();
    EXPECT_EQ(open_descriptors(), open_before);
}
#endif
#endif

} // namespace
} // namespace kestrune::test
