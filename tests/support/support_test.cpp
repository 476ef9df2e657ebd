// The test support's own promises: a fresh module life per FreshModule, the
// platform words put back, a disk that behaves like one, a task table that
// follows the current directory.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_firmware.h"
#include "fake_platform.h"
#include "fresh_module.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;

TEST(FreshModule, ChangedStaticStateDoesNotSurviveIntoTheNextCopy) {
  {
    FreshModule module;
    EXPECT_EQ(module.variable<uint16_t>("pagenumber"), 1);
    module.variable<uint16_t>("pagenumber") = 17;
  }
  FreshModule next;
  EXPECT_EQ(next.variable<uint16_t>("pagenumber"), 1);
}

TEST(FreshModule, CopyLeavesNoFileAndIsUnloadedOnDestruction) {
  std::filesystem::path copy;
  {
    FreshModule module;
    copy = module.copyPath();
    EXPECT_NE(copy, FreshModule::builtModulePath());
    EXPECT_FALSE(std::filesystem::exists(copy));
    void* stillThere = dlopen(copy.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(stillThere, nullptr);
    dlclose(stillThere);
  }
  // cppcheck-suppress leakReturnValNotUsed ; NOLOAD takes no reference, and null is expected
  EXPECT_EQ(dlopen(copy.c_str(), RTLD_LAZY | RTLD_NOLOAD), nullptr);
}

TEST(FreshModuleDeathTest, CopyThatStaysLoadedEndsTheRunLoudly) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        FreshModule module;
        // cppcheck-suppress leakReturnValNotUsed ; the reference kept is what the test is about
        dlopen(module.copyPath().c_str(), RTLD_NOW | RTLD_LOCAL);
      },
      "still loaded after dlclose");
}

TEST(FreshModule, TwoCopiesHaveSeparateState) {
  FreshModule first;
  FreshModule second;
  first.variable<uint16_t>("pagenumber") = 9;
  EXPECT_EQ(second.variable<uint16_t>("pagenumber"), 1);
}

TEST(FreshModule, MissingNameIsReportedNotDereferenced) {
  FreshModule module;
  EXPECT_EQ(module.find("NoSuchName"), nullptr);
  EXPECT_THROW(module.variable<int>("NoSuchName"), std::runtime_error);
}

TEST(FreshModule, MissingModuleFileIsAClearError) {
  EXPECT_THROW(FreshModule("/nonexistent/Quarnel.tap"), std::runtime_error);
}

TEST(FakePlatform, EntryWordsArePutBackOnDestruction) {
  const auto before = TAP_Hdd_ChangeDir;
  {
    FakePlatform platform;
    EXPECT_NE(TAP_Hdd_ChangeDir, before);
  }
  EXPECT_EQ(TAP_Hdd_ChangeDir, before);
}

TEST(FakePlatform, CallsAreLoggedInOrderWithTheirArguments) {
  FakePlatform platform;
  const TapRegion region = TAP_Osd_Create(0, 0, 720, 576, 0, 0);
  TAP_Osd_FillBox(region, 0, 0, 720, 576, 0xFF000000);
  TAP_Osd_PutS(region, 10, 20, 400, "50 %", 0xFFFFFFFF, 0, 0, 0, 0, 0);
  char buffer[32];
  TAP_SPrint(buffer, "/dev/pts/%d", 7);
  EXPECT_STREQ(buffer, "/dev/pts/7");
  EXPECT_THAT(platform.calls(),
              ElementsAre("TAP_Osd_Create(0,0,720,576,0,0)", "TAP_Osd_FillBox(1,0,0,720,576,0xff000000)",
                          "TAP_Osd_PutS(1,10,20,400,\"50 %\",0xffffffff,0x0,0,0,0,0)",
                          "TAP_SPrint(\"/dev/pts/%d\") -> \"/dev/pts/7\""));
}

TEST(FakePlatform, AllocationFailsOnlyOnTheChosenCallAndLiveBlocksAreCounted) {
  FakePlatform platform;
  platform.failAllocationOnCall(2);
  void* first = TAP_MemAlloc(8);
  void* second = TAP_MemAlloc(8);
  void* third = TAP_MemAlloc(8);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(platform.liveBlocks(), 2u);
  TAP_MemFree(first);
  EXPECT_EQ(platform.liveBlocks(), 1u);
  EXPECT_EQ(platform.callsTo("TAP_MemFree"), std::vector<std::string>{"TAP_MemFree(#1)"});
}

TEST(FakeDisk, RelativeAndAbsolutePathsResolveFromTheCurrentDirectory) {
  FakePlatform platform;
  platform.disk.addDirectory("/ProgramFiles/Settings/Mine");
  platform.disk.addFile("/ProgramFiles/Settings/a.ini", "abc");
  EXPECT_EQ(TAP_Hdd_ChangeDir("/ProgramFiles"), platform.changeDirSuccess);
  EXPECT_EQ(TAP_Hdd_ChangeDir("Settings"), platform.changeDirSuccess);
  EXPECT_EQ(platform.disk.currentDirectory(), "/ProgramFiles/Settings");
  EXPECT_NE(TAP_Hdd_Exist("a.ini"), 0);
  EXPECT_EQ(TAP_Hdd_ChangeDir("Missing"), platform.changeDirFailure);
  EXPECT_EQ(TAP_Hdd_ChangeDir("../Settings/./Mine"), platform.changeDirSuccess);
  EXPECT_EQ(platform.disk.currentDirectory(), "/ProgramFiles/Settings/Mine");
  EXPECT_EQ(TAP_Hdd_Exist("a.ini"), 0);
  EXPECT_EQ(TAP_Hdd_ChangeDir(""), platform.changeDirFailure);
}

TEST(FakeDisk, FileIsReadInWholeBlocksOnly) {
  FakePlatform platform;
  platform.disk.addFile("/data.bin", "0123456789");
  TapFile* file = TAP_Hdd_Fopen("data.bin");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(TAP_Hdd_Flen(file), 10u);
  char buffer[16] = {};
  EXPECT_EQ(TAP_Hdd_Fread(buffer, 4, 1, file), 1u);
  EXPECT_EQ(TAP_Hdd_Fread(buffer, 8, 1, file), 0u);
  TAP_Hdd_Fclose(file);
  EXPECT_EQ(platform.openFiles(), 0u);
  EXPECT_EQ(TAP_Hdd_Fopen("missing.bin"), nullptr);
}

TEST(FakeFirmware, RecordFollowsEverySuccessfulChangeOfDirectory) {
  ASSERT_TRUE(FakeFirmware::tablePresent());
  FakePlatform platform;
  platform.disk.addDirectory("/ProgramFiles");
  FakeFirmware firmware(platform);
  EXPECT_EQ(firmware.recordPath(), "[disk0]/");
  TAP_Hdd_ChangeDir("/ProgramFiles");
  EXPECT_EQ(firmware.recordPath(), "[disk0]/ProgramFiles");
  TAP_Hdd_ChangeDir("/Nowhere");
  EXPECT_EQ(firmware.recordPath(), "[disk0]/ProgramFiles");
}

uint32_t countingHandler(uint32_t event, uint32_t param1, uint32_t) {
  return event == TAP_EVENT_KEY ? param1 + 1 : 0;
}

TEST(FakeFirmware, SystemProcDeliversOneQueuedKeyToTheHandlerInTheModulesEntry) {
  FakePlatform platform;
  FakeFirmware firmware(platform);
  firmware.setHandler(&countingHandler);
  platform.pressKey(TAP_KEY_NEXT_PAGE);
  platform.pressKey(TAP_KEY_QUIT);
  TAP_SystemProc();
  ASSERT_EQ(platform.delivered().size(), 1u);
  EXPECT_EQ(platform.delivered()[0].param1, TAP_KEY_NEXT_PAGE);
  EXPECT_EQ(platform.delivered()[0].result, TAP_KEY_NEXT_PAGE + 1);
  EXPECT_EQ(platform.queuedEvents(), 1u);
  EXPECT_EQ(firmware.decoyHandlerCalls(), 0u);
}

}  // namespace
}  // namespace quarnel::test
