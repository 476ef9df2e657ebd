// LoadFirmwareDat: where it finds the file, what it reads and hands out, what
// it keeps, and that every load returns to the directory it started in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include "database.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;

struct Place {
  const char* name;
  const char* directory;
  friend void PrintTo(const Place& c, std::ostream* os) { *os << c.name; }
};

class FoundIn : public testing::TestWithParam<Place> {};

TEST_P(FoundIn, LoadsTheRecordsAndReturnsToTheStartDirectory) {
  Database db;
  db.put(Database::file({{22120, 1}, {42561, 2}}), GetParam().directory);
  const Loaded got = db.load();
  ASSERT_EQ(got.result, 1);
  EXPECT_EQ(got.header->magic, FWDAT_MAGIC);
  ASSERT_EQ(got.header->recordCount, 2u);
  EXPECT_EQ(got.records[0].sysId, 22120);
  EXPECT_EQ(got.records[0].remoteType, 1);
  EXPECT_EQ(got.records[1].sysId, 42561);
  EXPECT_EQ(got.records[1].remoteType, 2);
  EXPECT_EQ(db.platform.disk.currentDirectory(), kStartDirectory);
  EXPECT_EQ(db.stackDepth(), -1);
  EXPECT_EQ(db.platform.openFiles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Places, FoundIn,
                         testing::Values(Place{"CurrentDirectory", kStartDirectory},
                                         Place{"ProgramFiles", "/ProgramFiles"},
                                         Place{"Settings", "/ProgramFiles/Settings"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LoadFirmwareDat, OpensAsksTheLengthTwiceReadsWholeClosesThenPops) {
  Database db;
  db.put(Database::file({{1, 1}, {2, 2}}));
  ASSERT_EQ(db.load().result, 1);
  EXPECT_THAT(db.fileCalls(),
              ElementsAre("TAP_Hdd_Fopen(\"FirmwareTMS.dat\")", "TAP_Hdd_Flen(@1)",
                          "TAP_MemAlloc(716)", "TAP_Hdd_Flen(@1)", "TAP_Hdd_Fread(#1,716,1,@1)",
                          "TAP_Hdd_Fclose(@1)"));
  EXPECT_EQ(db.platform.calls().back(), "TAP_Hdd_ChangeDir(\"/Media\")");
  EXPECT_EQ(db.platform.liveBlocks(), 1u);
}

TEST(LoadFirmwareDat, HandsOutHeaderFirstRecordAndTheByteBehindTheLast) {
  Database db;
  auto bytes = Database::file({{1, 1}, {2, 2}, {3, 1}});
  bytes.insert(bytes.end(), {0xAA, 0xBB, 0xCC});
  db.put(bytes);
  const Loaded got = db.load();
  ASSERT_EQ(got.result, 1);
  EXPECT_EQ(db.platform.describe(got.header), "#1");
  EXPECT_EQ(reinterpret_cast<uint8_t*>(got.records), got.base() + 20);
  EXPECT_EQ(got.rest, got.base() + 20 + 3 * 348);
  EXPECT_EQ(got.rest[0], 0xAA);
}

TEST(LoadFirmwareDat, CountZeroLoadsWithRecordsAndRestBothAtOffset20) {
  Database db;
  db.put(Database::file({}));
  const Loaded got = db.load();
  ASSERT_EQ(got.result, 1);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(got.records), got.base() + 20);
  EXPECT_EQ(got.rest, got.base() + 20);
}

TEST(LoadFirmwareDat, NullOutParametersAreSkipped) {
  Database db;
  db.put(Database::file({{1, 1}}));
  EXPECT_EQ(db.loadFirmwareDat()(nullptr, nullptr, nullptr), 1);
}

struct BadHeader {
  const char* name;
  size_t offset;
  uint32_t value;
  friend void PrintTo(const BadHeader& c, std::ostream* os) { *os << c.name; }
};

class BadHeaderFile : public testing::TestWithParam<BadHeader> {};

TEST_P(BadHeaderFile, IsRejectedFreedAndTheDirectoryRestored) {
  Database db;
  auto bytes = Database::file({{22120, 1}});
  for (size_t i = 0; i < 4; ++i) bytes[GetParam().offset + i] = static_cast<uint8_t>(GetParam().value >> (8 * i));
  db.put(bytes);
  EXPECT_EQ(db.load().result, 0);
  EXPECT_THAT(db.fileCalls(),
              ElementsAre("TAP_Hdd_Fopen(\"FirmwareTMS.dat\")", "TAP_Hdd_Flen(@1)",
                          "TAP_MemAlloc(368)", "TAP_Hdd_Flen(@1)", "TAP_Hdd_Fread(#1,368,1,@1)",
                          "TAP_Hdd_Fclose(@1)", "TAP_MemFree(#1)"));
  EXPECT_EQ(db.platform.liveBlocks(), 0u);
  EXPECT_EQ(db.platform.disk.currentDirectory(), kStartDirectory);
  EXPECT_EQ(db.stackDepth(), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, BadHeaderFile,
    testing::Values(BadHeader{"BigEndianMagic", 0, 0x78563412}, BadHeader{"ZeroMagic", 0, 0},
                    BadHeader{"WordAt8One", 8, 1}, BadHeader{"WordAt8HighBit", 8, 0x80000000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadFirmwareDat, SecondCallOpensNothingAndChangesNoDirectory) {
  Database db;
  db.put(Database::file({{1, 1}}));
  const Loaded first = db.load();
  ASSERT_EQ(first.result, 1);
  db.platform.clearCalls();
  const Loaded second = db.load();
  EXPECT_EQ(second.result, 1);
  EXPECT_EQ(second.header, first.header);
  EXPECT_EQ(second.records, first.records);
  EXPECT_EQ(second.rest, first.rest);
  EXPECT_TRUE(db.platform.calls().empty()) << db.platform.calls().front();
  EXPECT_EQ(db.stackDepth(), -1);
}

TEST(LoadFirmwareDat, KeptBufferWhoseHeaderChangedIsFreedAndTheNextCallReadsTheDisk) {
  Database db;
  db.put(Database::file({{1, 1}}));
  const Loaded first = db.load();
  ASSERT_EQ(first.result, 1);
  first.header->mustBeZero = 3;
  db.platform.clearCalls();
  EXPECT_EQ(db.load().result, 0);
  EXPECT_THAT(db.platform.calls(), ElementsAre("TAP_MemFree(#1)"));
  EXPECT_EQ(db.load().result, 1);
  EXPECT_EQ(db.platform.callsTo("TAP_Hdd_Fopen").size(), 1u);
}

TEST(LoadFirmwareDat, KeptBufferWhoseCountWasRaisedPastItsEndIsFreed) {
  Database db;
  db.put(Database::file({{1, 1}}));
  const Loaded first = db.load();
  ASSERT_EQ(first.result, 1);
  first.header->recordCount = 2;
  EXPECT_EQ(db.load().result, 0);
  EXPECT_EQ(db.platform.liveBlocks(), 0u);
}

TEST(LoadFirmwareDat, FullDirectoryStackFailsBeforeTheDiskIsTouched) {
  Database db;
  db.put(Database::file({{1, 1}}));
  db.stackDepth() = TAP_DIR_STACK_SLOTS - 1;
  EXPECT_EQ(db.load().result, 0);
  EXPECT_TRUE(db.platform.calls().empty()) << db.platform.calls().front();
  EXPECT_EQ(db.stackDepth(), static_cast<int32_t>(TAP_DIR_STACK_SLOTS - 1));
}

TEST(LoadFirmwareDat, FailedLoadIsRetriedFromTheDiskOnTheNextCall) {
  Database db;
  EXPECT_EQ(db.load().result, 0);
  db.put(Database::file({{1, 1}}));
  EXPECT_EQ(db.load().result, 1);
}

TEST(LoadFirmwareDat, AllocationFailureClosesTheFileAndReadsNothing) {
  Database db;
  db.put(Database::file({{1, 1}}));
  db.platform.failAllocationOnCall(1);
  EXPECT_EQ(db.load().result, 0);
  EXPECT_THAT(db.fileCalls(),
              ElementsAre("TAP_Hdd_Fopen(\"FirmwareTMS.dat\")", "TAP_Hdd_Flen(@1)",
                          "TAP_MemAlloc(368)", "TAP_Hdd_Fclose(@1)"));
  const auto warning = db.platform.callsTo("TAP_SPrint");
  ASSERT_FALSE(warning.empty());
  EXPECT_NE(warning.front().find("TAP_MemAlloc(368) returned NULL pointer @ LoadFirmwareDat"),
            std::string::npos)
      << warning.front();
}

// Each case ends a load on a different path.
struct Path {
  const char* name;
  void (*arrange)(Database&);
  int32_t result;
  friend void PrintTo(const Path& c, std::ostream* os) { *os << c.name; }
};

void nowhere(Database&) {}
void valid(Database& db) { db.put(Database::file({{1, 1}})); }
void notAFile(Database& db) { db.platform.disk.addDirectory("/ProgramFiles/FirmwareTMS.dat"); }
void noMemory(Database& db) {
  valid(db);
  db.platform.failEveryAllocation(true);
}
void unreadable(Database& db) {
  valid(db);
  db.platform.failReads = true;
}
void badMagic(Database& db) {
  auto bytes = Database::file({{1, 1}});
  bytes[0] = 0;
  db.put(bytes);
}
void tooShort(Database& db) { db.put(std::vector<uint8_t>(19, 0)); }

class EveryLoadPath : public testing::TestWithParam<Path> {};

TEST_P(EveryLoadPath, PopsExactlyOnce) {
  Database db;
  GetParam().arrange(db);
  // A directory pushed by someone else must still be there afterwards.
  db.platform.disk.addDirectory("/Elsewhere");
  db.platform.disk.setCurrentDirectory("/Elsewhere");
  db.firmware.setRecordPath("[disk0]/Elsewhere");
  ASSERT_EQ(db.pushDir(), 1);
  ASSERT_EQ(TAP_Hdd_ChangeDir(kStartDirectory), 1u);
  EXPECT_EQ(db.load().result, GetParam().result);
  EXPECT_EQ(db.stackDepth(), 0);
  EXPECT_EQ(db.platform.disk.currentDirectory(), kStartDirectory);
  EXPECT_EQ(db.platform.openFiles(), 0u);
  EXPECT_EQ(db.platform.liveBlocks(), GetParam().result == 1 ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, EveryLoadPath,
    testing::Values(Path{"NotFound", nowhere, 0}, Path{"OpenFails", notAFile, 0},
                    Path{"AllocationFails", noMemory, 0}, Path{"ReadFails", unreadable, 0},
                    Path{"BadMagic", badMagic, 0}, Path{"ShorterThanHeader", tooShort, 0},
                    Path{"Loaded", valid, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarnel::test
