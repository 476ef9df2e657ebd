// Files the module cannot trust: too short for their header or their records,
// counts whose byte size wraps, and files whose length changes while read.
// None may be read past its block, and a result of 1 must mean that the
// header and every counted record lie inside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

#include "database.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;

void setWord(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void expectRefusedAndFreed(Database& db) {
  EXPECT_EQ(db.load().result, 0);
  EXPECT_EQ(db.platform.liveBlocks(), 0u);
  EXPECT_EQ(db.platform.badFrees(), 0u);
  EXPECT_EQ(db.platform.disk.currentDirectory(), kStartDirectory);
  EXPECT_EQ(db.stackDepth(), -1);
}

class ShortFile : public testing::TestWithParam<size_t> {};

TEST_P(ShortFile, ShorterThanTheHeaderIsRefusedAndFreed) {
  Database db;
  // The start of a valid header, so only the length is wrong.
  auto bytes = Database::file({});
  bytes.resize(GetParam());
  db.put(bytes);
  expectRefusedAndFreed(db);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShortFile, testing::Range<size_t>(0, 20));

TEST(ZeroLengthFile, IsRefusedWhenAllocatingZeroBytesFails) {
  Database db;
  db.put({});
  db.platform.failAllocationOnCall(1);
  expectRefusedAndFreed(db);
}

struct CountCase {
  const char* name;
  size_t records;  // written to the file
  size_t cutBy;    // bytes removed from its end
  uint32_t count;  // claimed by the header
  friend void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }
};

class RecordsPastTheEnd : public testing::TestWithParam<CountCase> {};

TEST_P(RecordsPastTheEnd, AreRefusedAndFreed) {
  Database db;
  auto bytes = Database::file(std::vector<fwdat::ModelRecord>(GetParam().records, {7, 2}));
  bytes.resize(bytes.size() - GetParam().cutBy);
  setWord(bytes, 12, GetParam().count);
  db.put(bytes);
  expectRefusedAndFreed(db);
}

// 20 + 348 * (2^30 + 1) wraps to 368 in 32 bits: exactly a one-record file.
INSTANTIATE_TEST_SUITE_P(
    Counts, RecordsPastTheEnd,
    testing::Values(CountCase{"OneMoreThanWritten", 1, 0, 2}, CountCase{"LastRecordCut", 1, 1, 1},
                    CountCase{"ThreeCountedHeaderOnly", 0, 0, 3},
                    CountCase{"CountWrapsToTheFileSize", 1, 0, 0x40000001},
                    CountCase{"CountWrapsAgain", 1, 0, 0xC0000001},
                    CountCase{"CountAllOnes", 2, 0, 0xFFFFFFFF}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordsExactlyFilling, TheFileAreAccepted) {
  Database db;
  db.put(Database::file({{7, 2}}));
  const Loaded got = db.load();
  ASSERT_EQ(got.result, 1);
  EXPECT_EQ(got.rest, got.base() + 368);
}

// TAP_Hdd_Flen answers the second question differently from the first, as for
// a file that is being written while the module reads it.
uint32_t (*fakeLength)(TapFile*) = nullptr;
int lengthQuestions = 0;
int64_t firstAnswerShift = 0;
int64_t secondAnswerShift = 0;

uint32_t changingLength(TapFile* file) {
  const int64_t shift = ++lengthQuestions == 1 ? firstAnswerShift : secondAnswerShift;
  return static_cast<uint32_t>(fakeLength(file) + shift);
}

struct Change {
  const char* name;
  int64_t first;
  int64_t second;
  friend void PrintTo(const Change& c, std::ostream* os) { *os << c.name; }
};

class LengthChangesBetweenQuestions : public testing::TestWithParam<Change> {};

TEST_P(LengthChangesBetweenQuestions, FileIsNeverReadPastItsBlockAndIsRefused) {
  Database db;
  db.put(Database::file({{7, 2}, {8, 1}}));  // 716 bytes
  fakeLength = TAP_Hdd_Flen;
  lengthQuestions = 0;
  firstAnswerShift = GetParam().first;
  secondAnswerShift = GetParam().second;
  TAP_Hdd_Flen = changingLength;
  const uint32_t allocated = static_cast<uint32_t>(716 + GetParam().first);

  expectRefusedAndFreed(db);
  EXPECT_EQ(lengthQuestions, 2);
  const auto allocation = db.platform.callsTo("TAP_MemAlloc");
  ASSERT_EQ(allocation.size(), 1u);
  EXPECT_EQ(allocation[0], "TAP_MemAlloc(" + std::to_string(allocated) + ")");
  const auto reads = db.platform.callsTo("TAP_Hdd_Fread");
  ASSERT_EQ(reads.size(), 1u);
  const size_t sizeStart = reads[0].find(',') + 1;
  const uint32_t readSize =
      static_cast<uint32_t>(std::stoul(reads[0].substr(sizeStart, reads[0].find(',', sizeStart) - sizeStart)));
  EXPECT_LE(readSize, allocated) << reads[0];
}

INSTANTIATE_TEST_SUITE_P(
    Changes, LengthChangesBetweenQuestions,
    testing::Values(Change{"GrewAfterTheBlockWasSized", -348, 0},
                    Change{"GrewByOneByte", -1, 0},
                    Change{"ShrankAfterTheBlockWasSized", 0, -348},
                    Change{"ShrankToNothing", 0, -716},
                    Change{"ReportedLongerThanItIs", 0, 4096}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quarnel::test
