#include "fwdatfile.h"

#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using fwdat::ModelRecord;

void setLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

bool mentions(const fwdat::Contents& c, const std::string& word) {
  return std::any_of(c.rejections.begin(), c.rejections.end(),
                     [&](const std::string& r) { return r.find(word) != std::string::npos; });
}

class BuildParseRoundTrip : public testing::TestWithParam<std::vector<ModelRecord>> {};

TEST_P(BuildParseRoundTrip, ParseGivesBackEveryModelInOrder) {
  const auto& models = GetParam();
  const auto bytes = fwdat::build(models);
  ASSERT_EQ(bytes.size(), fwdat::kHeaderSize + fwdat::kRecordSize * models.size());
  const auto contents = fwdat::parse(bytes);
  EXPECT_TRUE(contents.accepted()) << (contents.rejections.empty() ? "" : contents.rejections[0]);
  ASSERT_TRUE(contents.header);
  EXPECT_EQ(contents.header->recordCount, models.size());
  EXPECT_EQ(contents.records, models);
  EXPECT_EQ(contents.trailingBytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    ModelLists, BuildParseRoundTrip,
    testing::Values(std::vector<ModelRecord>{}, std::vector<ModelRecord>{{22120, 1}},
                    std::vector<ModelRecord>{{0, 0}, {65535, -1}, {4660, 2147483647}},
                    std::vector<ModelRecord>{{1, 2}, {2, 1}, {3, 2}, {258, -2147483647 - 1}}));

TEST(BuildLayout, LittleEndianHeaderAndRecordFieldsAtTheirOffsetsEverythingElseZero) {
  const auto bytes = fwdat::build(std::vector<ModelRecord>{{0x1234, 0x0A0B0C0D}, {0xBEEF, 2}});
  std::vector<uint8_t> expected(bytes.size(), 0);
  const uint8_t magic[] = {0x78, 0x56, 0x34, 0x12};
  std::memcpy(expected.data(), magic, 4);
  expected[12] = 2;
  expected[20] = 0x34;
  expected[21] = 0x12;
  setLe32(expected, 20 + 320, 0x0A0B0C0D);
  expected[20 + 348] = 0xEF;
  expected[20 + 348 + 1] = 0xBE;
  setLe32(expected, 20 + 348 + 320, 2);
  EXPECT_EQ(bytes, expected);
}

struct RejectCase {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* reason;  // a word the reason must contain
  friend void PrintTo(const RejectCase& c, std::ostream* os) { *os << c.name; }
};

std::vector<uint8_t> valid(size_t records) {
  return fwdat::build(std::vector<ModelRecord>(records, ModelRecord{22120, 1}));
}

std::vector<uint8_t> withWord(std::vector<uint8_t> bytes, size_t at, uint32_t value) {
  setLe32(bytes, at, value);
  return bytes;
}

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

class Rejected : public testing::TestWithParam<RejectCase> {};

TEST_P(Rejected, ParseRefusesWithAReasonNamingTheFault) {
  const auto contents = fwdat::parse(GetParam().bytes);
  EXPECT_FALSE(contents.accepted());
  EXPECT_TRUE(mentions(contents, GetParam().reason))
      << "reasons: " << (contents.rejections.empty() ? "(none)" : contents.rejections[0]);
}

INSTANTIATE_TEST_SUITE_P(
    HostileFiles, Rejected,
    testing::Values(RejectCase{"Empty", {}, "empty"},
                    RejectCase{"ShorterThanHeader", cut(valid(0), 19), "20-byte header"},
                    RejectCase{"BigEndianMagic", withWord(valid(1), 0, 0x78563412), "big-endian"},
                    RejectCase{"OtherMagic", withWord(valid(1), 0, 0x12345679), "bad magic"},
                    RejectCase{"NonzeroWordAt8", withWord(valid(1), 8, 1), "offset 8"},
                    RejectCase{"LastRecordCutShort", cut(valid(3), 20 + 3 * 348 - 1), "1064 bytes"},
                    RejectCase{"CountPastEnd", withWord(valid(1), 12, 2), "2 records"},
                    RejectCase{"CountWrapping32Bits", withWord(valid(1), 12, 0x40000001u),
                               "1073741825 records"},
                    RejectCase{"CountAllOnes", withWord(valid(1), 12, 0xFFFFFFFFu), "past"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Parse, CountWhoseByteSizeWrapsIn32BitsIsNotMistakenForASmallFile) {
  // In 32 bits 20 + 348 * (2^30 + 1) wraps to 368, the size of a one-record file.
  const uint32_t count = 0x40000001u;
  ASSERT_EQ(static_cast<uint32_t>(20u + 348u * count), 368u);
  const auto contents = fwdat::parse(withWord(valid(1), 12, count));
  EXPECT_FALSE(contents.accepted());
  EXPECT_EQ(contents.records.size(), 1u);
}

TEST(Parse, EveryTruncationOfAValidFileIsRefusedAndShowsOnlyWholeRecords) {
  const auto whole = valid(2);
  for (size_t size = 0; size < whole.size(); ++size) {
    const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(size));
    const auto contents = fwdat::parse(part);
    EXPECT_FALSE(contents.accepted()) << size;
    const size_t wholeRecords = size < 20 ? 0 : (size - 20) / 348;
    EXPECT_EQ(contents.records.size(), wholeRecords) << size;
    EXPECT_EQ(contents.trailingBytes, 0u) << size << ": part of a record is not data behind the records";
  }
}

TEST(Parse, DataBehindTheRecordsIsCountedAndAccepted) {
  auto bytes = valid(1);
  bytes.resize(bytes.size() + 7, 0xAA);
  const auto contents = fwdat::parse(bytes);
  EXPECT_TRUE(contents.accepted());
  EXPECT_EQ(contents.trailingBytes, 7u);
}

TEST(Parse, RepeatedSystemIdIsNotedButAccepted) {
  const auto contents =
      fwdat::parse(fwdat::build(std::vector<ModelRecord>{{5, 1}, {6, 1}, {5, 2}}));
  EXPECT_TRUE(contents.accepted());
  ASSERT_EQ(contents.notes.size(), 1u);
  EXPECT_NE(contents.notes[0].find("record 2"), std::string::npos);
}

struct SpecCase {
  const char* text;
  bool ok;
  ModelRecord model;
  friend void PrintTo(const SpecCase& c, std::ostream* os) { *os << c.text; }
};

class ModelSpec : public testing::TestWithParam<SpecCase> {};

TEST_P(ModelSpec, AcceptsOnlyIdColonRemoteInRange) {
  std::string error;
  const auto model = fwdat::parseModelArgument(GetParam().text, error);
  ASSERT_EQ(model.has_value(), GetParam().ok) << GetParam().text;
  if (model)
    EXPECT_EQ(*model, GetParam().model);
  else
    EXPECT_NE(error.find(GetParam().text), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Specs, ModelSpec,
    testing::Values(SpecCase{"22120:1", true, {22120, 1}}, SpecCase{"0:2", true, {0, 2}},
                    SpecCase{"65535:-7", true, {65535, -7}},
                    SpecCase{"1:2147483647", true, {1, 2147483647}},
                    SpecCase{"65536:1", false, {}}, SpecCase{"-1:1", false, {}},
                    SpecCase{"22120", false, {}}, SpecCase{"22120:", false, {}},
                    SpecCase{":1", false, {}}, SpecCase{"12x:1", false, {}},
                    SpecCase{"1:2147483648", false, {}}, SpecCase{"1:1:1", false, {}}));

TEST(DefaultModels, CoverListedAndUnlistedModelsOfBothRemoteTypes) {
  const uint16_t listed[] = {22120, 22130, 32030, 32031, 33021};
  auto isListed = [&](uint16_t id) { return std::find(std::begin(listed), std::end(listed), id) != std::end(listed); };
  const auto models = fwdat::defaultModels();
  auto has = [&](auto pred) { return std::any_of(models.begin(), models.end(), pred); };
  EXPECT_TRUE(has([](const ModelRecord& m) { return m.sysId == 22120 && m.remoteType == 1; }));
  EXPECT_TRUE(has([&](const ModelRecord& m) { return !isListed(m.sysId) && m.remoteType == 2; }));
  EXPECT_TRUE(has([&](const ModelRecord& m) { return !isListed(m.sysId) && m.remoteType == 1; }));
  EXPECT_TRUE(fwdat::parse(fwdat::build(models)).accepted());
  EXPECT_TRUE(fwdat::parse(fwdat::build(models)).notes.empty()) << "no repeated system id";
}

}  // namespace
