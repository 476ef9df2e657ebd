#include <gtest/gtest.h>

#include <array>
#include <string_view>

#include "platform/runoptions.h"
#include "platform/services.h"

namespace tapsim {
namespace {

TEST(Memory, CountsLiveBlocksAndRefusesForeignFrees) {
  Memory memory;
  void* a = memory.allocate(10);
  void* b = memory.allocate(0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(memory.liveBlocks(), 2u);
  EXPECT_EQ(memory.liveBytes(), 10u);
  EXPECT_TRUE(memory.release(a));
  EXPECT_FALSE(memory.release(a));
  int local = 0;
  EXPECT_FALSE(memory.release(&local));
  EXPECT_EQ(memory.badReleases(), 2u);
  EXPECT_EQ(memory.liveBlocks(), 1u);
}

TEST(Memory, OnlyTheChosenAllocationFails) {
  Memory memory(3);
  EXPECT_NE(memory.allocate(1), nullptr);
  EXPECT_NE(memory.allocate(1), nullptr);
  EXPECT_EQ(memory.allocate(1), nullptr);
  EXPECT_NE(memory.allocate(1), nullptr);
  EXPECT_EQ(memory.liveBlocks(), 3u);
}

TEST(Channels, RemembersTheChannelAtStartAndWhatWasStarted) {
  Channels channels(4, 99);
  channels.stop();
  EXPECT_FALSE(channels.playing());
  channels.start(4, 100);
  EXPECT_TRUE(channels.playing());
  EXPECT_EQ(channels.current(), std::make_pair(4, 100));
  EXPECT_EQ(channels.atStart(), std::make_pair(4, 99));
  EXPECT_EQ(channels.stops(), 1);
  EXPECT_EQ(channels.starts(), 1);
}

TEST(RunOptions, EveryReceiverSettingIsRead) {
  const std::array<std::string_view, 23> args = {
      "--model", "0x15668", "--firmware-version", "77", "--channel", "3,9", "--chdir-ok", "5",
      "--chdir-fail", "6", "--fail-alloc", "2", "--pts", "0,19", "--idle-timeout", "50",
      "--disk", "/d", "--key-fd", "3", "--frame-fd", "4", "mod.tap"};
  std::string error;
  const auto options = parseRunOptions(args, error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->receiver.systemId, 0x15668u);
  EXPECT_EQ(options->receiver.firmwareVersion, 77u);
  EXPECT_EQ(options->receiver.channelFirst, 3);
  EXPECT_EQ(options->receiver.channelSecond, 9);
  EXPECT_EQ(options->receiver.changeDirSuccess, 5u);
  EXPECT_EQ(options->receiver.changeDirFailure, 6u);
  EXPECT_EQ(options->receiver.failingAllocation, 2u);
  EXPECT_TRUE(options->openTerminals.test(0));
  EXPECT_TRUE(options->openTerminals.test(19));
  EXPECT_EQ(options->openTerminals.count(), 2u);
  EXPECT_EQ(options->idleLimit.count(), 50);
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
