// The module's life: what TAP_Main asks of the platform, in order, and how
// the handler answers every kind of event.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_firmware.h"
#include "fake_platform.h"
#include "fresh_module.h"
#include "page_calls.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAreArray;

constexpr uint32_t kQuit = 0x10017;

struct ModuleLife {
  FakePlatform platform;
  FakeFirmware firmware{platform};
  FreshModule module;

  // A model whose remote sends the module's own codes, so keys arrive untranslated.
  ModuleLife() { platform.systemId = 12345; }

  int32_t runMain() { return firmware.start(module)(); }
  TapEventHandler handler() const {
    return module.function<uint32_t(uint32_t, uint32_t, uint32_t)>("TAP_EventHandler");
  }
  // The module's own calls, from the moment it saves the channel.
  std::vector<std::string> fromChannelSave() const {
    auto calls = screenCalls(platform.calls());
    const auto start = std::find_if(calls.begin(), calls.end(),
                                    [](const auto& c) { return c.starts_with("TAP_Channel_GetCurrent"); });
    return std::vector<std::string>(start, calls.end());  // a copy of the tail
  }
};

TEST(Lifecycle, MainSavesStopsDrawsWaitsThenDeletesAndRestartsTheSavedChannel) {
  ModuleLife life;
  life.platform.channelFirst = 3;
  life.platform.channelSecond = 1234;
  life.platform.pressKey(kQuit);
  EXPECT_EQ(life.runMain(), 0);

  std::vector<std::string> expected{"TAP_Channel_GetCurrent(ptr,ptr)", "TAP_Channel_Stop(1)",
                                    "TAP_Osd_Create(0,0,720,576,0,0)"};
  for (auto& call : rampCalls(1)) expected.push_back(call);
  expected.insert(expected.end(), {"TAP_Osd_Sync()", "TAP_SystemProc()", "TAP_Osd_Delete(1)",
                                   "TAP_Channel_Start(1,3,1234)"});
  EXPECT_THAT(life.fromChannelSave(), ElementsAreArray(expected));
  EXPECT_TRUE(life.platform.liveRegions().empty());
}

TEST(Lifecycle, MainDrawsIntoTheHandleThePlatformGave) {
  ModuleLife life;
  life.platform.nextRegion = 513;
  life.platform.pressKey(kQuit);
  life.runMain();
  const auto calls = life.fromChannelSave();
  EXPECT_EQ(calls[3], fill(513, 0, 0, 720, 576, 0xFF000000));
  EXPECT_EQ(calls[calls.size() - 2], "TAP_Osd_Delete(513)");
}

TEST(Lifecycle, LoopRunsUntilTheQuitKeyAndOnlyPagingKeysDraw) {
  ModuleLife life;
  for (uint32_t key : {kNext, 0x10020u, kNext | 0x40000u, kPrevious, kQuit, kNext}) life.platform.pressKey(key);
  life.runMain();
  const auto calls = life.fromChannelSave();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "TAP_SystemProc()"), 5);
  // page 1 at start, page 2 on next, page 1 again on previous
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "TAP_Osd_Sync()"), 3);
  EXPECT_EQ(life.platform.queuedEvents(), 1u);  // the key after quit is never taken
  EXPECT_EQ(life.module.variable<uint16_t>("pagenumber"), 1);
  EXPECT_EQ(calls.back(), "TAP_Channel_Start(1,1,42)");
}

TEST(Lifecycle, StartShowsPageOneAndTheFirstNextShowsPageTwo) {
  ModuleLife life;
  life.platform.pressKey(kNext);
  life.platform.pressKey(kQuit);
  life.runMain();
  const auto calls = life.fromChannelSave();
  const auto firstSync = std::find(calls.begin(), calls.end(), "TAP_Osd_Sync()");
  const auto secondPage = std::find(firstSync + 1, calls.end(), fill(1, 0, 0, 720, 288, 0xFF101010));
  EXPECT_NE(secondPage, calls.end());
  EXPECT_EQ(life.module.variable<uint16_t>("pagenumber"), 2);
}

struct HandlerCase {
  const char* name;
  uint32_t event, param1;
  uint32_t result;
  bool draws;
  int32_t exitFlag;
};

class Handler : public ::testing::TestWithParam<HandlerCase> {};

TEST_P(Handler, AnswersAndActsAsTheKeyDemands) {
  const HandlerCase c = GetParam();
  FakePlatform platform;
  FreshModule module;
  module.variable<uint16_t>("rgn") = 1;
  auto handler = module.function<uint32_t(uint32_t, uint32_t, uint32_t)>("TAP_EventHandler");
  EXPECT_EQ(handler(c.event, c.param1, 0xDEADBEEF), c.result);
  const auto drawn = screenCalls(platform.calls());
  EXPECT_EQ(!drawn.empty(), c.draws);
  EXPECT_EQ(module.variable<int32_t>("_exitFlag"), c.exitFlag);
}

INSTANTIATE_TEST_SUITE_P(
    Events, Handler,
    ::testing::Values(HandlerCase{"QuitIsConsumed", 0x100, kQuit, 0, false, 1},
                      HandlerCase{"NextPasses", 0x100, kNext, 0x100, true, 0},
                      HandlerCase{"PreviousPasses", 0x100, kPrevious, 0x100, true, 0},
                      HandlerCase{"OtherKeyPasses", 0x100, 0x10020, 0x100, false, 0},
                      HandlerCase{"FlagBitMakesItAnotherKey", 0x100, kNext | 0x20000, 0x100, false, 0},
                      HandlerCase{"HighFlagOnQuitIsNoQuit", 0x100, kQuit | 0x80000000u, 0x100, false, 0},
                      HandlerCase{"HighEventBitsAreIgnored", 0x10100, kNext, 0x100, true, 0},
                      HandlerCase{"NonKeyEventReturnsItsCode", 0x200, kQuit, 0x200, false, 0},
                      HandlerCase{"NonKeyEventReturnsLow16Bits", 0xABCD0001u, kNext, 0x0001, false, 0},
                      HandlerCase{"EventZeroReturnsZero", 0, kNext, 0, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarnel::test
