// The module's start-up and run-time entries as the platform calls them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "fake_platform.h"
#include "fresh_module.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;

using InitEntry = int32_t(TapEntryPoints*);
using NewEntry = void*(int32_t);
using VoidEntry = void();

TEST(StartUpEntry, ReportsMainFunctionInSlotZeroAndHandlerInSlotOne) {
  FreshModule module;
  TapEntryPoints entryPoints{{nullptr, nullptr}};
  EXPECT_EQ(module.function<InitEntry>("__TAP_Init_")(&entryPoints), 0);
  EXPECT_EQ(entryPoints.slot[0], module.find("TAP_Main"));
  EXPECT_EQ(entryPoints.slot[1], module.find("TAP_EventHandler"));
}

TEST(StartUpEntry, FillsBothSlotsAgainOnEveryCall) {
  FreshModule module;
  auto* init = module.function<InitEntry>("__TAP_Init_");
  int scribble = 0;
  for (int call = 0; call < 3; ++call) {
    TapEntryPoints entryPoints{{&scribble, &scribble}};
    EXPECT_EQ(init(&entryPoints), 0) << "call " << call;
    EXPECT_EQ(entryPoints.slot[0], module.find("TAP_Main")) << "call " << call;
    EXPECT_EQ(entryPoints.slot[1], module.find("TAP_EventHandler")) << "call " << call;
  }
}

TEST(StartUpEntry, MakesNoPlatformCalls) {
  FreshModule module;
  FakePlatform platform;
  TapEntryPoints entryPoints{};
  module.function<InitEntry>("__TAP_Init_")(&entryPoints);
  EXPECT_THAT(platform.calls(), ElementsAre());
}

TEST(BuiltinNew, OfZeroPrintsItsLineThenAsksThePlatformForZeroBytes) {
  FreshModule module;
  FakePlatform platform;
  void* block = module.function<NewEntry>("__builtin_new")(0);
  EXPECT_THAT(platform.calls(),
              ElementsAre(R"(TAP_Print("__builtin_new. size=%d\n") -> "__builtin_new. size=0\n")",
                          "TAP_MemAlloc(0)"));
  EXPECT_EQ(platform.console(), "__builtin_new. size=0\n");
  EXPECT_NE(block, nullptr);
  EXPECT_EQ(platform.liveBlocks(), 1u);
  TAP_MemFree(block);
}

TEST(BuiltinNew, PassesTheSizeOnAndReturnsThePlatformsBlock) {
  FreshModule module;
  FakePlatform platform;
  auto* builtinNew = module.function<NewEntry>("__builtin_new");
  for (int32_t size : {1, 44, 4096}) {
    platform.clearCalls();
    void* block = builtinNew(size);
    ASSERT_NE(block, nullptr);
    EXPECT_THAT(platform.callsTo("TAP_MemAlloc"), ElementsAre("TAP_MemAlloc(" + std::to_string(size) + ")"));
    EXPECT_EQ(platform.describe(block), "#" + std::to_string(platform.allocationCalls()));
    TAP_MemFree(block);
  }
  EXPECT_EQ(platform.console(),
            "__builtin_new. size=1\n__builtin_new. size=44\n__builtin_new. size=4096\n");
}

TEST(BuiltinNew, ReturnsNullWhenThePlatformHasNoMemory) {
  FreshModule module;
  FakePlatform platform;
  platform.failEveryAllocation(true);
  EXPECT_EQ(module.function<NewEntry>("__builtin_new")(16), nullptr);
  EXPECT_EQ(platform.console(), "__builtin_new. size=16\n");
}

TEST(InitAndFinit, DoNothingAtAll) {
  FreshModule module;
  FakePlatform platform;
  module.function<VoidEntry>("_init")();
  module.function<VoidEntry>("_finit")();
  EXPECT_THAT(platform.calls(), ElementsAre());
}

// The child's verdicts, as exit codes.
enum : int { kSleptAsExpected = 41, kReturned = 42, kWrongDuration = 43 };
constexpr int kSleepsToWatch = 5;

int sleepsSeen = 0;
void watchSleep(uint32_t duration) {
  if (duration != 1000) _exit(kWrongDuration);
  if (++sleepsSeen == kSleepsToWatch) _exit(kSleptAsExpected);
}

// Waits up to a few seconds for the child; kills it if it is still running.
int waitForChild(pid_t child) {
  int status = 0;
  for (int tries = 0; tries < 500; ++tries) {
    if (waitpid(child, &status, WNOHANG) == child) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(child, SIGKILL);
  waitpid(child, &status, 0);
  return status;
}

TEST(Abort, NeverReturnsButSleepsAThousandAgainAndAgain) {
  FreshModule module;
  auto* abortEntry = module.function<VoidEntry>("abort");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TAP_Sleep = &watchSleep;
    abortEntry();
    _exit(kReturned);
  }
  const int status = waitForChild(child);
  ASSERT_TRUE(WIFEXITED(status)) << "abort neither slept nor returned (killed or crashed)";
  EXPECT_EQ(WEXITSTATUS(status), kSleptAsExpected)
      << (WEXITSTATUS(status) == kReturned ? "abort returned" : "abort slept for another time");
}

}  // namespace
}  // namespace quarnel::test
