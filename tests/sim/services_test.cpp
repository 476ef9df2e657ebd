#include <gtest/gtest.h>

#include <array>
#include <string_view>

#include "platform/runoptions.h"
#include "platform/services.h"

namespace tapsim {
namespace {

TEST(Memory, CountsLiveBlocksAndRefusesForeignFrees) {
  Memory memory;
  ASSERT_TRUE(memory.admit(10));
  memory.record(0x1000, 10);
  ASSERT_TRUE(memory.admit(0));
  memory.record(0x2000, 0);
  EXPECT_EQ(memory.liveBlocks(), 2u);
  EXPECT_EQ(memory.liveBytes(), 10u);
  EXPECT_TRUE(memory.release(0x1000));
  EXPECT_FALSE(memory.release(0x1000));
  EXPECT_FALSE(memory.release(0x3000));
  EXPECT_EQ(memory.badReleases(), 2u);
  EXPECT_EQ(memory.liveBlocks(), 1u);
  EXPECT_EQ(memory.liveBytes(), 0u);
}

TEST(Memory, OnlyTheChosenAllocationFails) {
  Memory memory(3);
  EXPECT_TRUE(memory.admit(1));
  EXPECT_TRUE(memory.admit(1));
  EXPECT_FALSE(memory.admit(1));
  EXPECT_TRUE(memory.admit(1));
  EXPECT_TRUE(memory.injectionFired());
  EXPECT_FALSE(Memory(5).injectionFired());
}

// What the blocks hold together is bounded, as on a receiver; freeing makes room again.
TEST(Memory, RefusesWhatWouldPassTheLimitAndCountsIt) {
  struct Case {
    uint32_t held, asked;
    bool granted;
  };
  for (const Case c : {Case{0, 100, true}, Case{0, 101, false}, Case{60, 40, true}, Case{60, 41, false},
                       Case{0, 0xFFFFFFFFu, false}}) {
    Memory memory(0, 100);
    if (c.held != 0) {
      ASSERT_TRUE(memory.admit(c.held));
      memory.record(0x10, c.held);
    }
    EXPECT_EQ(memory.admit(c.asked), c.granted) << c.held << " + " << c.asked;
    EXPECT_EQ(memory.refusedOverLimit(), c.granted ? 0u : 1u);
  }
  Memory memory(0, 100);
  ASSERT_TRUE(memory.admit(100));
  memory.record(0x10, 100);
  EXPECT_FALSE(memory.admit(1));
  memory.release(0x10);
  EXPECT_TRUE(memory.admit(100));
}

TEST(Channels, RemembersTheChannelAtStartAndWhatWasStarted) {
  Channels channels(4, 99);
  channels.stop();
  EXPECT_FALSE(channels.playing());
  channels.start(4, 100);
  EXPECT_TRUE(channels.playing());
  EXPECT_EQ(channels.current(), std::make_pair(4u, 100u));
  EXPECT_EQ(channels.atStart(), std::make_pair(4u, 99u));
  EXPECT_EQ(channels.stops(), 1u);
  EXPECT_EQ(channels.starts(), 1u);
}

TEST(RunOptions, EveryReceiverSettingIsRead) {
  const std::array<std::string_view, 21> args = {
      "--model", "0x15668", "--firmware-version", "77", "--channel", "3,9", "--chdir-ok", "5",
      "--chdir-fail", "6", "--fail-alloc", "2", "--pts", "0,19", "--idle-timeout", "50",
      "--disk", "/d", "--memory-limit", "2M", "mod.tap"};
  std::string error;
  const auto options = parseRunOptions(args, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->receiver.systemId, 0x15668u);
  EXPECT_EQ(options->receiver.firmwareVersion, 77u);
  EXPECT_EQ(options->receiver.channelFirst, 3u);
  EXPECT_EQ(options->receiver.channelSecond, 9u);
  EXPECT_EQ(options->receiver.changeDirSuccess, 5u);
  EXPECT_EQ(options->receiver.changeDirFailure, 6u);
  EXPECT_EQ(options->receiver.failingAllocation, 2u);
  EXPECT_TRUE(options->openTerminals.test(0));
  EXPECT_TRUE(options->openTerminals.test(19));
  EXPECT_EQ(options->openTerminals.count(), 2u);
  EXPECT_EQ(options->idleLimit.count(), 50);
  EXPECT_EQ(options->receiver.memoryLimit, 2u << 20);
  EXPECT_EQ(options->module, "mod.tap");
}

class BadRunOption : public ::testing::TestWithParam<std::array<std::string_view, 5>> {};

TEST_P(BadRunOption, IsRefusedWithAReason) {
  std::string error;
  EXPECT_FALSE(parseRunOptions(GetParam(), error));
  EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, BadRunOption,
    ::testing::Values(std::array<std::string_view, 5>{"--pts", "20", "--disk", "/", "m"},
                      std::array<std::string_view, 5>{"--model", "0x100000000", "--disk", "/", "m"},
                      std::array<std::string_view, 5>{"--channel", "3", "--disk", "/", "m"},
                      std::array<std::string_view, 5>{"--nonsense", "1", "--disk", "/", "m"},
                      std::array<std::string_view, 5>{"--disk", "/", "m", "--model", "-1"},
                      std::array<std::string_view, 5>{"--disk", "/", "m", "other", "--pts"}));

}  // namespace
}  // namespace tapsim
