// The road of a key press through KeyTranslateHook: which code the module
// sees, which word the firmware gets back, on which models.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "key_translation.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kFlags = 0x80060000;  // every bit above the 17-bit key code is a flag

struct TableRow {
  uint32_t in;
  uint32_t out;
};

constexpr TableRow kTranslation[] = {
    {0x10024, 0x10048}, {0x10025, 0x10045}, {0x10026, 0x10046}, {0x1003E, 0x10049},
    {0x1003F, 0x10047}, {0x10045, 0x10044}, {0x10047, 0x1003F}, {0x10048, 0x10024},
    {0x10049, 0x10025}, {0x1004A, 0x10026},
};
// Not in the table: they pass unchanged even where keys are translated.
constexpr uint32_t kUntouched[] = {0x10017, 0x10046, 0x10044, 0x10023, 0x1004B, 0x0, 0x1FFFF};

TEST(KeyRoad, On22120TheNextKeyOfThatRemoteTurnsThePageAndTheFirmwareGetsItsOwnWordBack) {
  KeyTranslation t;
  t.platform.systemId = 22120;
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  t.platform.clearCalls();
  EXPECT_EQ(t.press(0x10025), 0x10025u);
  EXPECT_EQ(t.pageNumber(), 2);
  EXPECT_THAT(t.platform.callsTo("TAP_Osd_Sync"), ElementsAre("TAP_Osd_Sync()"));
}

TEST(KeyRoad, On22120TheModulesOwnNextCodeArrivesAs10044AndIsIgnored) {
  KeyTranslation t;
  t.platform.systemId = 22120;
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  t.platform.clearCalls();
  EXPECT_EQ(t.press(0x10045), 0x10045u);
  EXPECT_EQ(t.pageNumber(), 1);
  EXPECT_TRUE(t.platform.callsTo("TAP_Osd_Sync").empty());

  t.firmware.setHandler(t.hook());
  t.original() = recordingHandler;
  t.press(0x10045);
  EXPECT_THAT(seenEvents, ElementsAre(SeenEvent{TAP_EVENT_KEY, 0x10044, 0}));
}

TEST(KeyRoad, QuitKeyIsConsumedAndTheFirmwareGetsZero) {
  KeyTranslation t;
  t.platform.systemId = 22120;
  ASSERT_EQ(t.installOver(t.moduleHandler()), 1);
  EXPECT_EQ(t.press(0x10017), 0u);
  EXPECT_EQ(t.module.variable<int32_t>("_exitFlag"), 1);
}

TEST(KeyRoad, FlagBitsAreCarriedThroughTheTranslationAndTheFirmwareGetsThePressedWord) {
  KeyTranslation t;
  t.platform.systemId = 22120;
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  EXPECT_EQ(t.press(kFlags | 0x10025, 77), kFlags | 0x10025);
  EXPECT_THAT(seenEvents, ElementsAre(SeenEvent{TAP_EVENT_KEY, kFlags | 0x10045, 77}));
}

TEST(KeyRoad, TranslatedKeyThatTheModuleConsumesGivesZero) {
  KeyTranslation t;
  t.platform.systemId = 22120;
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  recordingReply = 0;
  EXPECT_EQ(t.press(0x10025), 0u);
}

TEST(KeyRoad, OtherEventsReachTheModuleAsTheirLow16BitsAndItsAnswerPassesUnchanged) {
  KeyTranslation t;
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  recordingReply = 0xDEADBEEF;
  EXPECT_EQ(t.firmware.handler()(0x7F0200, 0x10025, 9), 0xDEADBEEFu);
  EXPECT_THAT(seenEvents, ElementsAre(SeenEvent{0x0200, 0x10025, 9}));
}

TEST(KeyRoad, AnEventWordWithHighBitsAndLow16Of0x100IsAKeyPress) {
  KeyTranslation t;
  t.platform.systemId = 22120;
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  EXPECT_EQ(t.firmware.handler()(0x30100, 0x10025, 0), 0x10025u);
  EXPECT_THAT(seenEvents, ElementsAre(SeenEvent{TAP_EVENT_KEY, 0x10045, 0}));
}

// Presses every key of the table and a few others; returns what the module saw.
std::vector<uint32_t> pressAll(KeyTranslation& t, std::vector<uint32_t>& returned) {
  seenEvents.clear();
  for (const auto& row : kTranslation) returned.push_back(t.press(kFlags | row.in));
  for (const uint32_t key : kUntouched) returned.push_back(t.press(kFlags | key));
  std::vector<uint32_t> seen;
  seen.reserve(seenEvents.size());
  for (const auto& e : seenEvents) seen.push_back(e.param1);
  return seen;
}

std::vector<uint32_t> allPressed() {
  std::vector<uint32_t> keys;
  for (const auto& row : kTranslation) keys.push_back(kFlags | row.in);
  for (const uint32_t key : kUntouched) keys.push_back(kFlags | key);
  return keys;
}

std::vector<uint32_t> allTranslated() {
  std::vector<uint32_t> keys;
  for (const auto& row : kTranslation) keys.push_back(kFlags | row.out);
  for (const uint32_t key : kUntouched) keys.push_back(kFlags | key);
  return keys;
}

class ListedModel : public testing::TestWithParam<uint16_t> {};

TEST_P(ListedModel, TranslatesTheWholeTableOnceEvenWithoutADatabase) {
  KeyTranslation t;
  t.platform.systemId = GetParam();
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  EXPECT_EQ(t.remoteType(), 1);
  std::vector<uint32_t> returned;
  EXPECT_EQ(pressAll(t, returned), allTranslated());
  EXPECT_EQ(returned, allPressed());
}

INSTANTIATE_TEST_SUITE_P(Models, ListedModel, testing::ValuesIn(kListedModels));

TEST(UnlistedModel, WithRemoteTypeOneFromTheDatabaseEveryKeyPassesUnchanged) {
  KeyTranslation t;
  t.platform.systemId = kUnlistedModel;
  t.putDatabase({{22120, 2}, {kUnlistedModel, 1}});
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  EXPECT_EQ(t.remoteType(), 1);
  std::vector<uint32_t> returned;
  EXPECT_EQ(pressAll(t, returned), allPressed());
  EXPECT_EQ(returned, allPressed());
  recordingReply = 0;
  EXPECT_EQ(t.press(0x10025), 0u);
}

TEST(UnlistedModel, WithRemoteTypeTwoFromTheDatabaseKeysAreTranslated) {
  KeyTranslation t;
  t.platform.systemId = kUnlistedModel;
  t.putDatabase({{12345, 1}, {kUnlistedModel, 2}});
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  EXPECT_EQ(t.remoteType(), 2);
  std::vector<uint32_t> returned;
  EXPECT_EQ(pressAll(t, returned), allTranslated());
  EXPECT_EQ(returned, allPressed());
}

TEST(UnlistedModel, RemoteTypeTwoSetDirectlyTranslatesOnAnyModel) {
  KeyTranslation t;
  t.platform.systemId = 1;
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  t.remoteType() = 2;
  std::vector<uint32_t> returned;
  EXPECT_EQ(pressAll(t, returned), allTranslated());
}

TEST(SystemIdHighBits, MatchNoDatabaseRecordButTheModelListAppliesToTheLow16Bits) {
  KeyTranslation t;
  t.platform.systemId = 0x10000u | 22120u;
  t.putDatabase({{22120, 2}});
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  EXPECT_EQ(t.remoteType(), 1);
  t.press(0x10025);
  EXPECT_THAT(seenEvents, ElementsAre(SeenEvent{TAP_EVENT_KEY, 0x10045, 0}));
}

TEST(SystemIdHighBits, OnAnUnlistedModelLeaveKeysUntranslatedDespiteARemoteTypeTwoRecord) {
  KeyTranslation t;
  t.platform.systemId = 0x20000u | kUnlistedModel;
  t.putDatabase({{kUnlistedModel, 2}});
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  EXPECT_EQ(t.remoteType(), 1);
  t.press(0x10025);
  EXPECT_THAT(seenEvents, ElementsAre(SeenEvent{TAP_EVENT_KEY, 0x10025, 0}));
}

TEST(KeyRoad, TheModelIsAskedAnewOnEveryPress) {
  KeyTranslation t;
  t.platform.systemId = kUnlistedModel;
  ASSERT_EQ(t.installOver(recordingHandler), 1);
  t.press(0x10025);
  t.platform.systemId = 33021;
  t.press(0x10025);
  EXPECT_THAT(seenEvents, ElementsAre(SeenEvent{TAP_EVENT_KEY, 0x10025, 0},
                                      SeenEvent{TAP_EVENT_KEY, 0x10045, 0}));
}

}  // namespace
}  // namespace quarnel::test
