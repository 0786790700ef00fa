// A host that calls an instance again while a call into its machine is in progress, as its
// message loop does while the machine's message box or dialog is up; and the callback that a
// faulted machine keeps, called after its instance is gone. The fixture runs the test's hook
// from inside the chosen machine call, after a message through its callback when asked. On
// Windows the machine is the MSVC-mode logging machine.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/message_box.h"
#include "tests/runtime/runtime_support.h"

namespace kestrune::test {
namespace {

#if defined(_WIN32)
const char* const fixture_name = "msvc_fault_generator";
const int fault_kinds[] = {FIXTURE_FAULT_THROW, FIXTURE_FAULT_ACCESS};
#else
const char* const fixture_name = "rt_generator";
const int fault_kinds[] = {FIXTURE_FAULT_THROW};
#endif

class Reentry : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(machine.loaded()) << machine.path();
        info = machine.describe();
        ASSERT_NE(info, nullptr);
        box_answer = platform::message_box("Hello from the hook", "Fixture", 0);
    }
    void TearDown() override {
        machine.state().hook = nullptr;
        machine.state().fault_kind = 0;
    }

    // Runs loop from inside the machine's call named call (once), after a message through the
    // machine's callback when message is set.
    void on_call(const char* call, bool message, std::function<void()> loop) {
        hook_body = std::move(loop);
        fixture_state& state = machine.state();
        std::strcpy(state.hook_call, call);
        state.hook_message = message ? 1 : 0;
        state.hook_context = this;
        state.hook = [](void* context) { static_cast<Reentry*>(context)->hook_body(); };
    }

    void arm(const char* call, int kind) {
        std::strcpy(machine.state().fault_call, call);
        machine.state().fault_kind = kind;
    }

    // The host operation that leads to the machine's call, and its answer when the instance
    // was released or its machine faulted meanwhile: that of an instance without a machine.
    void provoke_released(machine_plugin* plugin, const std::string& call) {
        if (call == "start_up") {
            plugin->start(nullptr);
        } else if (call == "render_block") {
            machine.state().render_action = 1;
            machine.state().render_value = 32768.0f;
            float left[4] = {3, 3, 3, 3}, right[4] = {3, 3, 3, 3};
            float* outputs[2] = {left, right};
            EXPECT_FALSE(plugin->render(nullptr, outputs, 4, 2));
            for (int k = 0; k < 4; ++k) {
                EXPECT_EQ(left[k], 0.0f) << k;
                EXPECT_EQ(right[k], 0.0f) << k;
            }
            machine.state().render_action = 0;
        } else if (call == "describe") {
            machine.state().describe_answer = 1;
            std::strcpy(machine.state().describe_text, "left");
            EXPECT_STREQ(plugin->value_text(1, 0), "");
        } else if (call == "user_command") {
            plugin->run_command(0);
        } else if (call == "data_size") {
            machine.state().data_size = 4; // released before dump_data: that never comes
            memory_archive archive;
            plugin->store_state(&archive);
            EXPECT_TRUE(archive.writes.empty());
            machine.state().data_size = 0;
        }
    }

    std::string message_line(bool message) const {
        return message ? "message " + std::to_string(box_answer) + "\n" : "";
    }

    logging_fixture machine{fixture_name};
    std::unique_ptr<machine_info> info;
    host_master_info master{120, 8, 48000, 6000};
    std::function<void()> hook_body;
    int box_answer = 0;
};

// The base callback's answers, whatever the host's master info says.
void expect_base_answers(machine_host_callback* callback) {
    ASSERT_NE(callback, nullptr);
#if !defined(_WIN32)
    ::testing::internal::CaptureStderr();
#endif
    EXPECT_EQ(callback->message("Hello", "Fixture", 0), 0);
#if !defined(_WIN32)
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "no box shown";
#endif
    EXPECT_EQ(callback->tick_length(), 2048);
    EXPECT_EQ(callback->sample_rate(), 44100);
    EXPECT_EQ(callback->tempo(), 125);
    EXPECT_EQ(callback->beat_ticks(), 4);
}

machine_host_callback* kept_callback(logging_fixture& machine) {
    return static_cast<machine_host_callback*>(machine.state().seen_callback);
}

TEST_F(Reentry, ReleaseFromInsideACallCompletesWhenTheCallReturns) {
    const char* const calls[] = {"start_up", "render_block", "describe", "user_command",
                                 "data_size"};
    for (const char* call : calls) {
        for (bool message : {false, true}) {
            SCOPED_TRACE(std::string(call) + (message ? " with a message" : ""));
            instance plugin(*info);
            plugin->master_info = &master;
            if (std::string(call) != "start_up") {
                plugin->start(nullptr);
            }
            machine.take_log();
            machine_plugin* host_pointer = plugin.plugin;
            on_call(call, message, [&] {
                plugin.release();
                EXPECT_EQ(machine.state().live_machines, 1) << "destroyed under its own call";
            });
            provoke_released(host_pointer, call);
            std::string log = machine.take_log();
            EXPECT_NE(log.find(call), std::string::npos) << log;
            std::string ending = message_line(message) + "DeleteMachine\ndestructor\n";
            ASSERT_GE(log.size(), ending.size()) << log;
            EXPECT_EQ(log.substr(log.size() - ending.size()), ending) << log;
            EXPECT_EQ(machine.state().live_machines, 0);
        }
    }
}

TEST_F(Reentry, ReleaseFromInsideACallThatThenFaults) {
    for (int kind : fault_kinds) {
        for (const char* call : {"render_block", "user_command"}) {
            SCOPED_TRACE(std::string(call) + " kind " + std::to_string(kind));
            instance plugin(*info);
            plugin->master_info = &master;
            plugin->start(nullptr);
            machine.take_log();
            int live = machine.state().live_machines;
            machine_plugin* host_pointer = plugin.plugin;
            on_call(call, true, [&] { plugin.release(); });
            arm(call, kind);
            provoke_released(host_pointer, call);
            machine.state().fault_kind = 0;
            std::string log = machine.take_log();
            EXPECT_EQ(log.substr(log.size() - message_line(true).size()), message_line(true))
                << "abandoned, not destroyed: " << log;
            EXPECT_EQ(machine.state().live_machines, live);
            expect_base_answers(kept_callback(machine));
        }
    }
}

TEST_F(Reentry, CallsFromInsideReachNothing) {
    instance plugin(*info);
    plugin->master_info = &master;
    plugin->start(nullptr);
    kestrune::machine* running = plugin->loaded_machine();
    plugin->set_tracks(2);
    machine.take_log();
    machine.state().muted_answer = 1;
    on_call("user_command", true, [&] {
        float left[4] = {3, 3, 3, 3}, right[4] = {3, 3, 3, 3};
        float* outputs[2] = {left, right};
        EXPECT_FALSE(plugin->render(outputs, outputs, 4, 2));
        EXPECT_EQ(left[0], 0.0f);
        EXPECT_EQ(right[3], 0.0f);
        EXPECT_STREQ(plugin->value_text(1, 0), "");
        EXPECT_STREQ(plugin->value_text(5, 0x41), "");
        std::memset(plugin->global_values, 0, 7);
        std::memset(plugin->track_values, 0x41, 6);
        plugin->take_events();
        plugin->halt();
        plugin->mute(1);
        EXPECT_FALSE(plugin->is_muted(1));
        plugin->midi_key(1, 60, 100);
        memory_archive archive;
        plugin->store_state(&archive);
        EXPECT_EQ(archive.output_requests, 0);
        plugin->start(nullptr);
        plugin->run_command(0);
    });
    plugin->run_command(0);
    EXPECT_EQ(machine.take_log(), "user_command\n" + message_line(true));
    EXPECT_EQ(machine.state().live_machines, 1);

    // Afterwards the instance and its machine carry on.
    EXPECT_EQ(plugin->loaded_machine(), running);
    plugin->halt();
    EXPECT_EQ(machine.take_log(), "silence\n");
}

TEST_F(Reentry, OtherInstancesPlayUnderOneMachinesBox) {
    instance boxed(*info);
    instance other(*info);
    boxed->start(nullptr);
    other->start(nullptr);
    machine.take_log();
    on_call("user_command", true, [&] {
        machine.state().render_action = 1;
        machine.state().render_value = 16384.0f;
        float left[2] = {}, right[2] = {};
        float* outputs[2] = {left, right};
        EXPECT_TRUE(other->render(nullptr, outputs, 2, 2));
        EXPECT_EQ(left[1], 0.5f);
        machine.state().render_action = 0;
        other->halt();
    });
    boxed->run_command(0);
    EXPECT_EQ(machine.take_log(),
              "user_command\n" + message_line(true) + "render_block 2 0\nsilence\n");
}

// A faulted machine's timer or thread may still call its callback, which must answer for good,
// and never reach the instance again, however long it outlives it.
TEST_F(Reentry, AFaultedMachinesCallbackAnswersTheBaseAnswersForGood) {
    instance plugin(*info);
    plugin->master_info = &master;
    plugin->start(nullptr);
    machine_host_callback* callback = kept_callback(machine);
    ASSERT_NE(callback, nullptr);
    EXPECT_EQ(callback->tempo(), 120) << "a healthy machine's callback answers for its instance";
    arm("silence", FIXTURE_FAULT_THROW);
    plugin->halt();
    machine.state().fault_kind = 0;
    {
        SCOPED_TRACE("faulted");
        expect_base_answers(callback);
    }
    plugin->start(nullptr); // abandons it for a fresh machine, with a callback of its own
    EXPECT_NE(kept_callback(machine), callback);
    EXPECT_EQ(kept_callback(machine)->tempo(), 120);
    {
        SCOPED_TRACE("abandoned");
        expect_base_answers(callback);
    }
    plugin.release();
    {
        SCOPED_TRACE("released");
        expect_base_answers(callback);
    }
}

} // namespace
} // namespace kestrune::test
