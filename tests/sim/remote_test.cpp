#include <gtest/gtest.h>

#include <sstream>

#include "platform/remote.h"

namespace tapsim {
namespace {

using Kind = RemotePress::Kind;

struct RemoteCase {
  uint32_t systemId;
  int32_t remoteType;
  uint32_t next, previous;
};

class RemoteCodes : public ::testing::TestWithParam<RemoteCase> {};

TEST_P(RemoteCodes, PagingButtonsSendWhatTheModelsRemoteSends) {
  const RemoteCase c = GetParam();
  const Remote remote{c.systemId, c.remoteType};
  EXPECT_EQ(remote.code({Kind::Next}), c.next);
  EXPECT_EQ(remote.code({Kind::Previous}), c.previous);
  EXPECT_EQ(remote.code({Kind::Quit}), 0x10017u);
  EXPECT_EQ(remote.code({Kind::Raw, 0x12345678}), 0x12345678u);
}

INSTANTIATE_TEST_SUITE_P(
    Models, RemoteCodes,
    ::testing::Values(RemoteCase{22120, 1, 0x10025, 0x10026}, RemoteCase{22130, 1, 0x10025, 0x10026},
                      RemoteCase{32030, 1, 0x10025, 0x10026}, RemoteCase{32031, 1, 0x10025, 0x10026},
                      RemoteCase{33021, 1, 0x10025, 0x10026},
                      RemoteCase{22010, 1, 0x10045, 0x10046},   // unlisted, plain remote
                      RemoteCase{22010, 2, 0x10025, 0x10026},   // remote type 2 from the database
                      RemoteCase{87656, 1, 0x10025, 0x10026},   // 22120 with bit 16 set: listed by low bits
                      RemoteCase{22121, 1, 0x10045, 0x10046}));

TEST(KeyScript, NamesCodesAndRepeatsBecomePressesInOrder) {
  std::string error;
  const auto presses = parseKeyScript("next prev*2, quit 0x10020\texit previous", error);
  ASSERT_TRUE(presses) << error;
  const std::vector<RemotePress> expected{{Kind::Next},     {Kind::Previous}, {Kind::Previous},
                                          {Kind::Quit},     {Kind::Raw, 0x10020},
                                          {Kind::Quit},     {Kind::Previous}};
  EXPECT_EQ(*presses, expected);
}

TEST(KeyScript, AScriptAnEditorSavedWithCrlfAndAByteOrderMarkReadsAsWritten) {
  std::string error;
  const auto presses = parseKeyScript("\xEF\xBB\xBFnext*2\r\nprev\r\nquit\r\n", error);
  ASSERT_TRUE(presses) << error;
  EXPECT_EQ(*presses, (std::vector<RemotePress>{{Kind::Next}, {Kind::Next}, {Kind::Previous}, {Kind::Quit}}));
}

TEST(KeyScript, EmptyScriptHasNoPresses) {
  std::string error;
  EXPECT_TRUE(parseKeyScript("  ", error)->empty());
}

class BadKeyScript : public ::testing::TestWithParam<const char*> {};

TEST_P(BadKeyScript, IsRefusedWithAReason) {
  std::string error;
  EXPECT_FALSE(parseKeyScript(GetParam(), error));
  EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Scripts, BadKeyScript,
                         ::testing::Values("nxt", "0x", "0xZZ", "next*0", "next*x", "next*99999999999",
                                           "0x100000000", "10045", "next*1000000 quit"));

struct RecordedKeys {
  const char* name;
  std::vector<RemotePress> presses;
  std::string script;
  friend void PrintTo(const RecordedKeys& c, std::ostream* os) { *os << c.name; }
};

class KeyScriptOfPresses : public ::testing::TestWithParam<RecordedKeys> {};

TEST_P(KeyScriptOfPresses, ReadsBackAsTheSamePressesInOrder) {
  const std::string script = formatKeyScript(GetParam().presses);
  if (!GetParam().script.empty()) {
    EXPECT_EQ(script, GetParam().script);
  }
  if (!script.empty()) {
    EXPECT_TRUE(script.ends_with('\n'));
  }
  std::istringstream lines(script);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 72u) << "a line a person can read";
  std::string error;
  const auto back = parseKeyScript(script, error);
  ASSERT_TRUE(back) << error << "\n" << script;
  EXPECT_EQ(*back, GetParam().presses);
}

std::vector<RemotePress> manyDifferent() {
  std::vector<RemotePress> presses;
  for (uint32_t i = 0; i < 40; ++i) presses.push_back(i % 2 != 0 ? RemotePress{Kind::Next} : RemotePress{Kind::Raw, 0x10000 + i});
  return presses;
}

INSTANTIATE_TEST_SUITE_P(
    Presses, KeyScriptOfPresses,
    ::testing::Values(RecordedKeys{"Nothing", {}, ""},
                      RecordedKeys{"NamesAndRuns",
                                   {{Kind::Next}, {Kind::Next}, {Kind::Previous}, {Kind::Raw, 0x10044}, {Kind::Quit}},
                                   "next*2 prev 0x10044 quit\n"},
                      RecordedKeys{"ARawCodeStaysApartFromTheNameItMayMean",
                                   {{Kind::Raw, 0x10045}, {Kind::Next}, {Kind::Raw, 0x30045}},
                                   "0x10045 next 0x30045\n"},
                      RecordedKeys{"ALongRunIsOneWord", std::vector<RemotePress>(5000, {Kind::Previous}), "prev*5000\n"},
                      RecordedKeys{"ManyKeysOnSeveralLines", manyDifferent(), ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tapsim
