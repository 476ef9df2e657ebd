// The library in a program that does not export the firmware's task table
// (or exports it only for a while, through LateTaskTable).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "fake_platform.h"
#include "fresh_module.h"
#include "late_task_table.h"
#include "lib/taplib.h"

namespace quarnel::test {
namespace {

class NoTaskTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(LateTaskTable::visible()) << "built without NO_TASK_TABLE?"; }

  void* tapTable() { return module.function<void*()>("FIS_vTAPTable")(); }
  int32_t* curTapTask() { return module.function<int32_t*()>("FIS_vcurTapTask")(); }
  int32_t initTAPex() { return module.function<int32_t()>("InitTAPex")(); }

  FakePlatform platform;
  FreshModule module;
};

TEST_F(NoTaskTableTest, MissingTableIsLookedUpAgainOnEveryCall) {
  EXPECT_EQ(tapTable(), nullptr);
  EXPECT_EQ(tapTable(), nullptr);
  EXPECT_EQ(curTapTask(), nullptr);
  LateTaskTable late;
  EXPECT_EQ(tapTable(), late.table());
  EXPECT_EQ(curTapTask(), late.index());
}

TEST_F(NoTaskTableTest, FoundTableIsNotLookedUpAgain) {
  void* table = nullptr;
  int32_t* index = nullptr;
  {
    LateTaskTable late;
    table = tapTable();
    index = curTapTask();
    ASSERT_NE(table, nullptr);
    ASSERT_NE(index, nullptr);
  }
  ASSERT_FALSE(LateTaskTable::visible());
  EXPECT_EQ(tapTable(), table);
  EXPECT_EQ(curTapTask(), index);
}

TEST_F(NoTaskTableTest, InitTAPexWithoutIndexStillInitialisesOnce) {
  platform.version = 0x10042;
  EXPECT_EQ(initTAPex(), 1);
  EXPECT_EQ(module.variable<int32_t>("LibInitialized"), 1);
  EXPECT_EQ(module.variable<uint16_t>("ApplID"), 0x0042);
  EXPECT_EQ(module.variable<int32_t>("TAP_TableIndex"), 0);
  LateTaskTable late;
  *late.index() = 4;
  EXPECT_EQ(initTAPex(), 1);
  EXPECT_EQ(module.variable<int32_t>("TAP_TableIndex"), 0);
  EXPECT_EQ(platform.callsTo("TAP_GetVersion").size(), 1u);
}

TEST_F(NoTaskTableTest, GetSysIDWorksWithoutTheTable) {
  platform.systemId = 0x70005668;
  EXPECT_EQ(module.function<uint16_t()>("GetSysID")(), 0x5668);
}

TEST_F(NoTaskTableTest, CurrentDirectoryIsEmptiedAndReportedMissing) {
  char dest[TAP_PATH_SIZE];
  std::strcpy(dest, "/stale");
  EXPECT_EQ(module.function<int32_t(char*)>("HDD_TAP_GetCurrentDir")(dest), TAP_DIR_NO_TASK_TABLE);
  EXPECT_STREQ(dest, "");
  EXPECT_EQ(module.function<int32_t(char*)>("HDD_TAP_GetCurrentDir")(nullptr), TAP_DIR_NO_TASK_TABLE);
}

TEST_F(NoTaskTableTest, PushFailsAndLeavesTheStackEmpty) {
  EXPECT_EQ(module.function<int32_t()>("HDD_TAP_PushDir")(), 0);
  EXPECT_EQ(module.variable<int32_t>("TAPDirStackDepth"), -1);
  EXPECT_EQ(module.function<int32_t()>("HDD_TAP_PopDir")(), 0);
}

}  // namespace
}  // namespace quarnel::test
