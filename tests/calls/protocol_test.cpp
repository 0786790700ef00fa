// What crosses the process line: the bridge's calls, their deadlines and the block's sizes, and
// the handles a helper process is handed.
#include <gtest/gtest.h>

#include <cstddef>

#include "calls/bridge_protocol.h"
#include "platform/process.h"

namespace kestrune::test {
namespace {

TEST(BridgeProtocol, CallsDeadlinesAndSizes) {
    using bridge::op;
    EXPECT_STREQ(bridge::call_name(op::get_info), "GetInfo");
    EXPECT_STREQ(bridge::call_name(op::create), "CreateMachine");
    EXPECT_STREQ(bridge::call_name(op::render_block), "render_block");
    EXPECT_STREQ(bridge::call_name(op::describe), "describe");
    EXPECT_EQ(bridge::call_name(op::message_reply), nullptr);
    for (int i = 1; i < static_cast<int>(op::message_reply); ++i) {
        EXPECT_NE(bridge::call_name(static_cast<op>(i)), nullptr) << i;
    }
    for (op fast :
         {op::render_block, op::set_parameter, op::sequence_event, op::silence, op::midi_in}) {
        EXPECT_EQ(bridge::deadline_seconds(fast), 2) << bridge::call_name(fast);
    }
    EXPECT_EQ(bridge::deadline_seconds(op::start_up), 10);
    EXPECT_EQ(bridge::deadline_seconds(op::load_data), 10);
    for (op slow : {op::get_info, op::create, op::data_size, op::dump_data, op::user_command,
                    op::mute_channel, op::channel_muted, op::describe, op::destroy}) {
        EXPECT_EQ(bridge::deadline_seconds(slow), 30) << bridge::call_name(slow);
    }

    EXPECT_EQ(bridge::payload_offset % 64, 0u);
    EXPECT_EQ(bridge::audio_bytes(256), 2048u);
    EXPECT_EQ(bridge::audio_bytes(0), 0u);
    EXPECT_EQ(bridge::audio_bytes(-5), 0u);
    EXPECT_EQ(bridge::range_bytes(3), 36u);
    EXPECT_EQ(bridge::block_size_for(0), 65536u);
    EXPECT_EQ(bridge::block_size_for(bridge::audio_bytes(bridge::initial_samples)), 131072u);
    EXPECT_EQ(bridge::block_size_for(65536 - bridge::payload_offset), 65536u);
    EXPECT_EQ(bridge::block_size_for(65536 - bridge::payload_offset + 1), 131072u);
    EXPECT_EQ(bridge::block_size_for(0xFFFFFFF0u), 0u) << "past 32 bits";

    // The handles a bridge is handed, as its last argument.
    platform::bridge_handles handed{platform::channel{3, 3, -1}, 4}, read;
    char text[40];
    ASSERT_TRUE(platform::write_bridge_handles(handed, text, sizeof text));
    EXPECT_STREQ(text, "3,3,-1,4");
    ASSERT_TRUE(platform::read_bridge_handles("168,172,176,180", read));
    EXPECT_EQ(read.link.wait + read.link.wake + read.link.peer + read.block, 696);
    volatile std::size_t too_small = 8; // unknown to the compiler, which would warn
    EXPECT_FALSE(platform::write_bridge_handles(handed, text, too_small));
    for (const char* wrong :
         {"", "3,3,-1", "3,3,-1,4,5", "3,3,-1,4x", "3;3;-1;4", "3,3,-2,4", "-,3,3,4", " 3,3,3,4"}) {
        EXPECT_FALSE(platform::read_bridge_handles(wrong, read)) << wrong;
    }
    EXPECT_FALSE(platform::read_bridge_handles(nullptr, read));
    EXPECT_EQ(read.block, 180) << "left as it was";

    char field[8];
    bridge::copy_text(field, sizeof field, "a long caption");
    EXPECT_STREQ(field, "a long ");
    bridge::copy_text(field, sizeof field, nullptr);
    EXPECT_STREQ(field, "");
}

} // namespace
} // namespace kestrune::test
