// KeyTranslate's two states, plain and hooked, and the remote type it learns
// from the database on every call.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "key_translation.h"

namespace quarnel::test {
namespace {

uint32_t otherHandler(uint32_t, uint32_t, uint32_t) { return 0; }

TEST(KeyTranslateInstall, PutsTheHookInTheEntryAndKeepsTheModulesHandler) {
  KeyTranslation t;
  EXPECT_EQ(t.installOver(t.moduleHandler()), 1);
  EXPECT_EQ(t.firmware.handler(), t.hook());
  EXPECT_EQ(t.original(), t.moduleHandler());
}

TEST(KeyTranslateInstall, SecondInstallReturnsZeroAndChangesNothing) {
  KeyTranslation t;
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  EXPECT_EQ(t.keyTranslate(1, t.moduleHandler()), 0);
  EXPECT_EQ(t.firmware.handler(), t.hook());
  EXPECT_EQ(t.original(), t.moduleHandler());
}

TEST(KeyTranslateInstall, HandlerThatDoesNotMatchTheEntryReturnsZeroAfterTheRemoteTypeWasSet) {
  KeyTranslation t;
  t.platform.systemId = kUnlistedModel;
  t.putDatabase({{kUnlistedModel, 2}});
  t.firmware.setHandler(otherHandler);
  EXPECT_EQ(t.keyTranslate(1, t.moduleHandler()), 0);
  EXPECT_EQ(t.remoteType(), 2);
  EXPECT_EQ(t.firmware.handler(), otherHandler);
  EXPECT_EQ(t.original(), nullptr);
}

// Either would leave the hook calling a null address or itself forever.
TEST(KeyTranslateInstall, RefusesToWrapANullHandlerOrTheHookItself) {
  KeyTranslation t;
  t.firmware.setHandler(nullptr);
  EXPECT_EQ(t.keyTranslate(1, nullptr), 0);
  EXPECT_EQ(t.firmware.handler(), nullptr);
  t.firmware.setHandler(t.hook());
  EXPECT_EQ(t.keyTranslate(1, t.hook()), 0);
  EXPECT_EQ(t.firmware.handler(), t.hook());
  EXPECT_EQ(t.original(), nullptr);
}

TEST(KeyTranslateInstall, TouchesOnlyTheRunningModulesEntry) {
  KeyTranslation t;
  t.firmware.setIndex(5);
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  t.firmware.setIndex(FakeFirmware::kModuleIndex);
  EXPECT_NE(t.firmware.handler(), t.hook());
}

TEST(KeyTranslateRemove, WhilePlainReturnsZeroAndLeavesTheEntry) {
  KeyTranslation t;
  t.firmware.setHandler(t.moduleHandler());
  EXPECT_EQ(t.keyTranslate(0, t.moduleHandler()), 0);
  EXPECT_EQ(t.firmware.handler(), t.moduleHandler());
}

TEST(KeyTranslateRemove, AfterInstallRestoresTheHandlerAndForgetsIt) {
  KeyTranslation t;
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  EXPECT_EQ(t.keyTranslate(0, nullptr), 1);
  EXPECT_EQ(t.firmware.handler(), t.moduleHandler());
  EXPECT_EQ(t.original(), nullptr);
  EXPECT_EQ(t.keyTranslate(0, nullptr), 0);
  EXPECT_EQ(t.installOver(t.moduleHandler()), 1) << "plain again, so it can be hooked again";
}

TEST(KeyTranslateRemove, LearnsTheRemoteTypeEvenWhenItFails) {
  KeyTranslation t;
  t.platform.systemId = kUnlistedModel;
  t.putDatabase({{kUnlistedModel, 2}});
  t.firmware.setHandler(t.moduleHandler());
  EXPECT_EQ(t.keyTranslate(0, nullptr), 0);
  EXPECT_EQ(t.remoteType(), 2);
}

TEST(RemoteTypeLearning, FirstMatchingRecordWinsAndTheModelIsAskedOncePerRecordUpToIt) {
  KeyTranslation t;
  t.platform.systemId = 500;
  t.putDatabase({{100, 1}, {500, 7}, {500, 2}, {900, 1}});
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  EXPECT_EQ(t.remoteType(), 7);
  EXPECT_EQ(t.platform.callsTo("TAP_GetSystemId").size(), 2u);
}

TEST(RemoteTypeLearning, NoMatchingRecordKeepsTheValueAndEveryRecordIsCompared) {
  KeyTranslation t;
  t.platform.systemId = 4;
  t.putDatabase({{1, 2}, {2, 2}, {3, 2}});
  t.remoteType() = 5;
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  EXPECT_EQ(t.remoteType(), 5);
  EXPECT_EQ(t.platform.callsTo("TAP_GetSystemId").size(), 3u);
}

TEST(RemoteTypeLearning, DatabaseWithoutRecordsOrUnreadableKeepsTheValue) {
  KeyTranslation t;
  t.platform.systemId = kUnlistedModel;
  t.putDatabase({});
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  EXPECT_EQ(t.remoteType(), 1);
  EXPECT_TRUE(t.platform.callsTo("TAP_GetSystemId").empty());
}

TEST(RemoteTypeLearning, LearntBeforeTheTaskTableIsLookedAt) {
  KeyTranslation t;
  t.platform.systemId = kUnlistedModel;
  t.putDatabase({{kUnlistedModel, 2}});
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  const auto calls = t.platform.calls();
  const auto read = std::find_if(calls.begin(), calls.end(),
                                 [](const std::string& c) { return c.starts_with("TAP_Hdd_Fread"); });
  EXPECT_NE(read, calls.end());
  EXPECT_EQ(t.remoteType(), 2);
}

}  // namespace
}  // namespace quarnel::test
