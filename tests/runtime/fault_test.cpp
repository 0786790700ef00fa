// Machines that fault in each call that Kestrune makes into them. The host's call returns with
// the answer of an instance without a machine, nothing reaches the machine again (not even its
// destruction), the About box says where and why, and a new start brings a fresh machine. On
// Windows the machines are MSVC-mode DLLs that fault in every way an MSVC-built machine can,
// and the floating-point state they leave behind is put back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hostkit/library.h"
#include "platform/guard.h"
#include "runtime/about.h"
#include "tests/runtime/runtime_support.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kestrune::test {
namespace {

#if defined(_WIN32)
const char* const fault_fixture = "msvc_fault_generator";
#else
const char* const fault_fixture = "rt_generator";
#endif
const char* const started = "GetInfo\nCreateMachine\nstart_up\n";
// The state blob of the song that a start whose load_data faults is given.
const std::vector<unsigned char> start_blob = {1, 0, 0, 0, 2, 0, 0, 0, 9, 9};
const char* const start_calls[] = {"GetInfo", "CreateMachine", "start_up", "load_data"};
const char* const running_calls[] = {
    "set_parameter", "sequence_event", "render_block",  "silence", "data_size", "dump_data",
    "user_command",  "mute_channel",   "channel_muted", "midi_in", "describe"};

// The floating-point state that a machine must not change for the host (32-bit Windows;
// natively all equal).
struct fp_state {
    unsigned short control = 0;
    unsigned mxcsr = 0;
    unsigned short tags = 0xFFFF; // x87 tag word: all registers empty
    unsigned short status = 0;    // x87 status word: stack top and pending exceptions
};

fp_state read_fp() {
    fp_state state;
#if defined(_WIN32)
    unsigned char environment[28];
    asm volatile("fnstcw %0" : "=m"(state.control));
    asm volatile("fnstenv %0" : "=m"(environment));
    asm volatile("fldcw %0" : : "m"(state.control)); // fnstenv masks every exception
    asm volatile("stmxcsr %0" : "=m"(state.mxcsr));
    state.tags = static_cast<unsigned short>(environment[8] | environment[9] << 8);
    state.status = static_cast<unsigned short>(environment[4] | environment[5] << 8);
#endif
    return state;
}

// What the host must find after any call: its own settings, the x87 stack empty, its top at 0
// and no exception pending. The test's own arithmetic between may raise MXCSR's sticky flags.
void expect_host_state(const fp_state& before) {
    fp_state after = read_fp();
    EXPECT_EQ(after.control, before.control);
    EXPECT_EQ(after.mxcsr & ~0x3Fu, before.mxcsr & ~0x3Fu);
    EXPECT_EQ(after.tags, 0xFFFF) << "the x87 stack is empty";
    EXPECT_EQ(after.status & 0x3880, 0) << "its top at 0, no exception pending";
}

// The last line of a log whose lines each end with a line end.
std::string last_line(const std::string& log) {
    std::size_t start = log.size() < 2 ? std::string::npos : log.rfind('\n', log.size() - 2);
    return start == std::string::npos ? log : log.substr(start + 1);
}

bool is_start_call(const std::string& call) {
    for (const char* name : start_calls) {
        if (call == name) {
            return true;
        }
    }
    return false;
}

class Fault : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(machine.loaded()) << machine.path();
        info = machine.describe();
        ASSERT_NE(info, nullptr);
    }

    void arm(const std::string& call, int kind) {
        std::strcpy(machine.state().fault_call, call.c_str());
        machine.state().fault_kind = kind;
#if defined(_WIN32)
        machine.state().fault_dirties_fp = 1;
#endif
    }

    // Makes the machine's call happen through the host operation that leads to it, and checks
    // that operation's answer after the fault.
    void provoke(instance& plugin, const std::string& call) {
        fixture_state& state = machine.state();
        if (is_start_call(call)) {
            memory_archive archive;
            archive.entries[""] = start_blob;
            plugin->start(call == "load_data" ? &archive : nullptr);
            return;
        }
        std::memset(plugin->global_values, 0xFF, 7); // every global empty
        std::memset(plugin->track_values, 0, 64 * 3);
        plugin->set_tracks(2);
        if (call == "set_parameter" || call == "sequence_event") {
            if (call == "set_parameter") {
                plugin->global_values[2] = 0; // Pan and Fixed change...
                plugin->global_values[6] = 0;
            }
            plugin->track_values[0] = 0x41; // ...and two tracks have notes
            plugin->track_values[3] = 0x42;
            plugin->take_events();
            EXPECT_EQ(std::string(state.log, static_cast<std::size_t>(state.log_length)),
                      call == "set_parameter" ? "set_parameter 1 -100\n"
                                              : "sequence_event 0 49 0 0 0\n");
        } else if (call == "render_block") {
            float in[9] = {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
            float left[9], right[9];
            left[8] = right[8] = 7.0f;
            float* inputs[2] = {in, in};
            float* outputs[2] = {left, right};
            EXPECT_FALSE(plugin->render(inputs, outputs, 8, 2));
            for (int k = 0; k < 8; ++k) {
                EXPECT_EQ(left[k], 0.0f) << k;
                EXPECT_EQ(right[k], 0.0f) << k;
            }
            EXPECT_EQ(left[8], 7.0f);
        } else if (call == "silence") {
            plugin->halt();
        } else if (call == "data_size" || call == "dump_data") {
            state.data_size = 4;
            memory_archive archive;
            plugin->store_state(&archive);
            EXPECT_EQ(archive.output_requests, 1);
            EXPECT_TRUE(archive.entries[""].empty());
        } else if (call == "user_command") {
            plugin->run_command(0);
        } else if (call == "mute_channel") {
            plugin->mute(3);
        } else if (call == "channel_muted") {
            state.muted_answer = 1;
            EXPECT_FALSE(plugin->is_muted(3));
        } else if (call == "midi_in") {
            plugin->midi_key(1, 60, 100);
        } else if (call == "describe") {
            state.describe_answer = 1;
            std::strcpy(state.describe_text, "left");
            EXPECT_STREQ(plugin->value_text(1, 0), "");
        }
    }

    // Every operation of a faulted instance: none reaches the machine. A store writes the
    // state blob that the machine was last handed, here only when its load_data faulted.
    void drive_everything(instance& plugin, const std::string& call) {
        std::memset(plugin->global_values, 0, 7);
        std::memset(plugin->track_values, 0x41, 6);
        plugin->take_events();
        float left[4] = {3, 3, 3, 3}, right[4] = {3, 3, 3, 3};
        float* outputs[2] = {left, right};
        EXPECT_FALSE(plugin->render(outputs, outputs, 4, 2));
        plugin->halt();
        memory_archive archive;
        plugin->store_state(&archive);
        EXPECT_EQ(archive.entries[""],
                  call == "load_data" ? start_blob : std::vector<unsigned char>{});
        plugin->run_command(0);
        plugin->mute(1);
        EXPECT_FALSE(plugin->is_muted(1));
        plugin->midi_key(1, 60, 100);
        EXPECT_STREQ(plugin->value_text(0, 5), "");
        EXPECT_STREQ(plugin->value_text(5, 0x41), "");
        EXPECT_EQ(machine.take_log(), "");
    }

    void check_about(instance& plugin, const std::string& call, const std::string& cause) {
        std::string ending = "\n\nFaulted:\t" + call + " (" + cause + ")";
        std::string text = about_text(*info, plugin->fault());
        ASSERT_GE(text.size(), ending.size());
        EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
        EXPECT_EQ(text.substr(0, text.size() - ending.size()), about_text(*info));
#if !defined(_WIN32)
        ::testing::internal::CaptureStderr();
        plugin->run_command(0);
        plugin->run_command(2);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  std::string(about_caption) + ": " + text + "\n");
#else
        plugin->run_command(2);
#endif
    }

    // One call faulting one way, and all that must follow.
    void check_fault(const std::string& call, int kind, unsigned code, const std::string& cause) {
        SCOPED_TRACE(call + " (" + cause + ")");
        instance plugin(*info);
        plugin->master_info = &master;
        plugin->set_tracks(2);
        if (!is_start_call(call)) {
            plugin->start(nullptr);
        }
        machine.take_log();
        arm(call, kind);
        fp_state before = read_fp();
        provoke(plugin, call);
        EXPECT_EQ(read_fp().mxcsr, before.mxcsr) << "its flags too";
        expect_host_state(before);
        machine.state().fault_kind = 0; // a call that still got through would show in the log

        EXPECT_EQ(last_line(machine.take_log()).substr(0, call.size()), call);
        EXPECT_EQ(plugin->loaded_machine(), nullptr);
        ASSERT_NE(plugin->fault().call, nullptr);
        EXPECT_EQ(plugin->fault().call, call);
        EXPECT_EQ(plugin->fault().code, code);
        drive_everything(plugin, call);
        check_about(plugin, call, cause);

        // A new start abandons the faulted machine, destroying nothing, and runs a fresh one,
        // which gets the state that the last one was handed.
        plugin->start(nullptr);
        EXPECT_EQ(machine.take_log(),
                  std::string(started) + (call == "load_data" ? "load_data\n" : ""));
        EXPECT_EQ(plugin->fault().call, nullptr);
        machine.state().render_action = 1;
        machine.state().render_value = 32768.0f;
        float left[2], right[2];
        float* outputs[2] = {left, right};
        EXPECT_TRUE(plugin->render(nullptr, outputs, 2, 2));
        EXPECT_EQ(left[1], 1.0f);
        machine.state().render_action = 0;
        EXPECT_EQ(machine.take_log(), "render_block 2 2\n");

        // Faulted once more, the instance is released without a call to its machine.
        arm("midi_in", kind);
        plugin->midi_key(0, 0, 0);
        machine.state().fault_kind = 0;
        plugin.release();
        EXPECT_EQ(machine.take_log(), "midi_in 0 0 0\n");
    }

    void check_every_call(int kind, unsigned code, const std::string& cause) {
        for (const char* call : start_calls) {
            check_fault(call, kind, code, cause);
        }
        for (const char* call : running_calls) {
            check_fault(call, kind, code, cause);
        }
    }

    logging_fixture machine{fault_fixture};
    std::unique_ptr<machine_info> info;
    host_master_info master{120, 8, 48000, 6000};
};

TEST_F(Fault, CppExceptionInEveryCall) {
    check_every_call(FIXTURE_FAULT_THROW, platform::cxx_exception_code, "C++ exception");
}

#if defined(_WIN32)
TEST_F(Fault, AccessViolationInEveryCall) {
    check_every_call(FIXTURE_FAULT_ACCESS, platform::access_violation_code, "access violation");
}

TEST_F(Fault, StackOverflowThreeTimesInARow) {
    check_fault("render_block", FIXTURE_FAULT_OVERFLOW, platform::stack_overflow_code,
                "stack overflow");
    check_fault("start_up", FIXTURE_FAULT_OVERFLOW, platform::stack_overflow_code,
                "stack overflow");
    check_fault("describe", FIXTURE_FAULT_OVERFLOW, platform::stack_overflow_code,
                "stack overflow");
}

// A description that can't be read, or a machine that can't hold its callback, is a fault of
// the export that answered it.
TEST_F(Fault, UnusableAnswersFaultTheirExport) {
    check_fault("GetInfo", FIXTURE_FAULT_BAD_ANSWER, platform::access_violation_code,
                "access violation");
    check_fault("CreateMachine", FIXTURE_FAULT_BAD_ANSWER, platform::access_violation_code,
                "access violation");
}

TEST_F(Fault, OtherExceptionsByTheirCode) {
    check_fault("midi_in", FIXTURE_FAULT_DIVIDE, EXCEPTION_INT_DIVIDE_BY_ZERO,
                "exception 0xC0000094");
}
#endif

#if defined(_WIN32)
// Each side keeps its own floating-point settings: the machine's are in force during each of
// its calls, the host's after each.
class FloatingPoint : public Fault {
protected:
    // Renders two samples; answers the settings the machine found.
    fp_state render(instance& plugin) {
        float left[2], right[2];
        float* outputs[2] = {left, right};
        plugin->render(nullptr, outputs, 2, 2);
        EXPECT_EQ(plugin->fault().call, nullptr);
        fp_state seen;
        seen.control = machine.state().seen_x87_control;
        seen.mxcsr = machine.state().seen_mxcsr & ~0x3Fu; // without the sticky flags
        return seen;
    }
};

TEST_F(FloatingPoint, TheMachineKeepsWhatItSetInStartUp) {
    fp_state before = read_fp();
    machine.state().own_x87_control = 0x0C7F; // truncation, 64-bit precision
    machine.state().own_mxcsr = 0x7FC0;       // truncation, DAZ
    instance plugin(*info);
    plugin->start(nullptr);
    expect_host_state(before);
    plugin->halt(); // another call between: the machine's settings stay its own
    for (int block = 0; block < 2; ++block) {
        fp_state seen = render(plugin);
        EXPECT_EQ(seen.control, 0x0C7F);
        EXPECT_EQ(seen.mxcsr, 0x7FC0u);
        expect_host_state(before);
    }
}

TEST_F(FloatingPoint, AnX87StackLeftDirtyIsTheHostsNoMore) {
    fp_state before = read_fp();
    instance plugin(*info);
    plugin->start(nullptr);
    machine.state().leave_x87_dirty = 1;
    render(plugin);
    expect_host_state(before);
    volatile long double x87_value = 3.0L; // would trap, or be NaN, on a dirty x87
    EXPECT_EQ(x87_value * 2, 6.0L);
    machine.state().leave_x87_dirty = 0;
    EXPECT_EQ(render(plugin).control, 0x037B) << "what it left is its own setting";
    expect_host_state(before);
}

TEST(FloatingPointLoad, TheLoadCodesSettingsAreTheMachinesAlone) {
    fp_state before = read_fp();
    std::unique_ptr<machine_info> info;
    std::string path;
    {
        logging_fixture fixture("msvc_fp_entry"); // loaded and freed: its entry runs twice
        ASSERT_TRUE(fixture.loaded());
        expect_host_state(before);
        info = fixture.describe();
        path = fixture.path();
    }
    expect_host_state(before);
    ASSERT_NE(info, nullptr);
    instance plugin(*info);
    plugin->start(nullptr); // loaded afresh: its entry runs again
    expect_host_state(before);
    HMODULE library = GetModuleHandleA(path.c_str());
    ASSERT_NE(library, nullptr);
    auto control = reinterpret_cast<fixture_control_function>(
        reinterpret_cast<void*>(GetProcAddress(library, FIXTURE_CONTROL_EXPORT)));
    ASSERT_NE(control, nullptr);
    float left[2], right[2];
    float* outputs[2] = {left, right};
    plugin->render(nullptr, outputs, 2, 2);
    EXPECT_EQ(plugin->fault().call, nullptr);
    expect_host_state(before);
    EXPECT_EQ(control()->seen_x87_control, 0x0E7B);
    EXPECT_EQ(control()->seen_mxcsr & ~0x3Fu, 0xFFC0u);
    plugin.release();
    expect_host_state(before);
}
#endif

TEST_F(Fault, OtherInstancesOfTheMachineRunOn) {
    instance healthy(*info);
    instance faulting(*info);
    healthy->start(nullptr);
    faulting->start(nullptr);
    machine.take_log();
    arm("silence", FIXTURE_FAULT_THROW);
    faulting->halt();
    machine.state().fault_kind = 0;
    healthy->halt();
    healthy->mute(2);
    EXPECT_EQ(machine.take_log(), "silence\nsilence\nmute_channel 2\n");
    EXPECT_NE(healthy->loaded_machine(), nullptr);
    EXPECT_EQ(healthy->fault().call, nullptr);
}

// A fault costs no state: a store after it writes the blob that the machine was last handed or
// gave, and the next start hands that blob to the fresh machine, unless the song has its own.
TEST_F(Fault, TheLastStateOutlivesAFault) {
    const std::vector<unsigned char> song_blob = {1, 0, 0, 0, 3, 0, 0, 0, 7, 8, 9};
    const std::string restored = std::string(started) + "load_data 07 08 09\n";
    memory_archive song;
    song.entries[""] = song_blob;
    machine.state().load_bytes = 3;
    instance plugin(*info);
    plugin->master_info = &master;
    auto store = [&] {
        memory_archive archive;
        plugin->store_state(&archive);
        return archive.entries[""];
    };
    auto fault_in_midi_in = [&] {
        arm("midi_in", FIXTURE_FAULT_THROW);
        plugin->midi_key(0, 0, 0);
        machine.state().fault_kind = 0;
        EXPECT_STREQ(plugin->fault().call, "midi_in");
    };

    plugin->start(&song);
    fault_in_midi_in();
    EXPECT_EQ(store(), song_blob) << "the blob it was started from";
    machine.take_log();
    plugin->start(nullptr);
    EXPECT_EQ(machine.take_log(), restored) << "into the fresh machine";

    machine.state().data_size = 4;
    machine.state().dump_first = 0x20;
    const std::vector<unsigned char> taken = {1, 0, 0, 0, 4, 0, 0, 0, 0x20, 0x21, 0x22, 0x23};
    EXPECT_EQ(store(), taken);
    arm("dump_data", FIXTURE_FAULT_THROW);
    EXPECT_EQ(store(), taken) << "a store whose dump faults writes the one taken before";
    machine.state().fault_kind = 0;
    EXPECT_EQ(store(), taken);

    machine.take_log();
    plugin->start(&song);
    EXPECT_EQ(machine.take_log(), restored) << "the song's own state wins";
    fault_in_midi_in();
    EXPECT_EQ(store(), song_blob);

    // Only after a fault: a start after a healthy machine begins from nothing, as ever.
    machine.take_log();
    plugin->start(nullptr);
    plugin->start(nullptr);
    fault_in_midi_in();
    EXPECT_TRUE(store().empty());
    EXPECT_EQ(machine.take_log(),
              restored + "DeleteMachine\ndestructor\n" + started + "midi_in 0 0 0\n");
}

// The machines that fault in one call only, which other tests use too: generators that start
// normally, with global parameters. A faulted machine's DLL stays loaded for good.
TEST(FaultMachines, FaultInTheirOneCallAndStayLoaded) {
    struct named {
        const char* name;
        const char* call;
        unsigned code;
    };
#if defined(_WIN32)
    const named machines[] = {
        {"msvc_fault_render_block_av", "render_block", platform::access_violation_code},
        {"msvc_fault_describe_throw", "describe", platform::cxx_exception_code}};
#else
    const named machines[] = {{"fault_render_block", "render_block", platform::cxx_exception_code},
                              {"fault_describe", "describe", platform::cxx_exception_code}};
#endif
    for (const named& m : machines) {
        SCOPED_TRACE(m.name);
        std::string path;
        {
            logging_fixture fixture(m.name);
            ASSERT_TRUE(fixture.loaded());
            path = fixture.path();
            auto info = fixture.describe();
            ASSERT_NE(info, nullptr);
            EXPECT_EQ(info->track_params().size(), 2u) << "a generator";
            EXPECT_FALSE(info->global_params().empty());
            instance plugin(*info);
            plugin->start(nullptr);
            EXPECT_EQ(fixture.take_log(), started);
            EXPECT_STREQ(plugin->value_text(1, 0), std::string(m.call) == "describe" ? "" : "-100");
            float left[2] = {}, right[2] = {};
            float* outputs[2] = {left, right};
            plugin->render(nullptr, outputs, 2, 2);
            ASSERT_NE(plugin->fault().call, nullptr);
            EXPECT_EQ(plugin->fault().call, std::string(m.call));
            EXPECT_EQ(plugin->fault().code, m.code);
            plugin.release();
            EXPECT_EQ(last_line(fixture.take_log()).substr(0, std::strlen(m.call)), m.call);
        }
        EXPECT_TRUE(hostkit::module_is_loaded(path));
    }
}

} // namespace
} // namespace kestrune::test
