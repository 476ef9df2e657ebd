// The directory services: the current directory read from the task table,
// the 16-slot stack, and the change of directory with its learnt success
// value and UTF-8 retry.
#include <cstring>

#include "lib_fixture.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;

using DirectoryTest = LibraryTest;

TEST_F(DirectoryTest, CurrentDirectoryIsTheFirmwarePathWithoutItsPrefix) {
  startIn("/ProgramFiles/Settings");
  char dest[TAP_PATH_SIZE] = "junk";
  EXPECT_EQ(currentDir(dest), 0);
  EXPECT_STREQ(dest, "/ProgramFiles/Settings");
}

TEST_F(DirectoryTest, CurrentEntryIsFoundAnewFromTheIndexOnEveryUse) {
  char dest[TAP_PATH_SIZE];
  ASSERT_EQ(currentDir(dest), 0);
  EXPECT_STREQ(dest, "/");
  firmware.setIndex(FakeFirmware::kModuleIndex + 1);
  ASSERT_EQ(currentDir(dest), 0);
  EXPECT_STREQ(dest, "/Decoy");
}

TEST_F(DirectoryTest, NullDestinationOnlyReportsSuccess) { EXPECT_EQ(currentDir(nullptr), 0); }

TEST_F(DirectoryTest, MissingRecordOrPathLeavesDestinationAsItWas) {
  char dest[TAP_PATH_SIZE] = "/kept";
  firmware.setRecordPathNull();
  EXPECT_EQ(currentDir(dest), 0);
  EXPECT_STREQ(dest, "/kept");
  firmware.setRecordNull();
  EXPECT_EQ(currentDir(dest), 0);
  EXPECT_STREQ(dest, "/kept");
}

struct FirmwarePathCase {
  const char* name;
  std::string fullPath;
  int32_t result;
  std::string expected;
};

class FirmwarePathTest : public LibraryTest, public ::testing::WithParamInterface<FirmwarePathCase> {};

// The destination is exactly one slot long, so a write past it shows under AddressSanitizer.
TEST_P(FirmwarePathTest, PathIsCopiedOnlyWhenPrefixAndSlotAllowIt) {
  firmware.setRecordPath(GetParam().fullPath);
  auto dest = std::make_unique<char[]>(TAP_PATH_SIZE);
  std::strcpy(dest.get(), "/before");
  EXPECT_EQ(currentDir(dest.get()), GetParam().result);
  EXPECT_EQ(std::string(dest.get()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, FirmwarePathTest,
    ::testing::Values(
        FirmwarePathCase{"ExactlyThePrefix", "[disk0]", 0, ""},
        FirmwarePathCase{"OneCharacterShort", "[disk0", TAP_DIR_PATH_TOO_SHORT, ""},
        FirmwarePathCase{"Empty", "", TAP_DIR_PATH_TOO_SHORT, ""},
        FirmwarePathCase{"LongestThatFits", "[disk0]/" + std::string(198, 'a'), 0, "/" + std::string(198, 'a')},
        FirmwarePathCase{"OneTooLong", "[disk0]/" + std::string(199, 'a'), TAP_DIR_PATH_TOO_LONG, ""},
        FirmwarePathCase{"FarTooLong", "[disk0]/" + std::string(1000, 'b'), TAP_DIR_PATH_TOO_LONG, ""}),
    [](const auto& info) { return info.param.name; });

TEST_F(DirectoryTest, OverlongFirmwarePathIsNotPushedAndSpillsIntoNoOtherSlot) {
  std::strcpy(stack()[1], "/neighbour");
  firmware.setRecordPath("[disk0]/" + std::string(300, 'x'));
  EXPECT_EQ(pushDir(), 0);
  EXPECT_EQ(depth(), -1);
  EXPECT_STREQ(stack()[1], "/neighbour");
}

TEST_F(DirectoryTest, SeventeenthPushFailsAndKeepsTheDepth) {
  for (int i = 0; i < 16; ++i) ASSERT_EQ(pushDir(), 1) << "push " << i + 1;
  EXPECT_EQ(depth(), 15);
  EXPECT_EQ(pushDir(), 0);
  EXPECT_EQ(depth(), 15);
}

TEST_F(DirectoryTest, PopsReturnToPushedDirectoriesInReverseUntilTheStackIsEmpty) {
  std::vector<std::string> pushed;
  for (int i = 0; i < 16; ++i) {
    pushed.push_back("/d" + std::to_string(i));
    startIn(pushed.back());
    ASSERT_EQ(pushDir(), 1);
  }
  for (int i = 15; i >= 0; --i) {
    ASSERT_EQ(popDir(), 1) << "pop " << 16 - i;
    EXPECT_EQ(platform.disk.currentDirectory(), pushed[i]);
    EXPECT_EQ(depth(), i - 1);
  }
  platform.clearCalls();
  EXPECT_EQ(popDir(), 0);
  EXPECT_EQ(depth(), -1);
  EXPECT_THAT(platform.calls(), ElementsAre());
}

TEST_F(DirectoryTest, SlotKeepsWhatAnEarlierPushLeftWhenTheDirectoryCannotBeRead) {
  startIn("/ProgramFiles");
  ASSERT_EQ(pushDir(), 1);
  ASSERT_EQ(popDir(), 1);
  startIn("/ProgramFiles/Settings");
  firmware.setRecordNull();
  EXPECT_EQ(pushDir(), 1);
  EXPECT_STREQ(stack()[0], "/ProgramFiles");
  EXPECT_EQ(popDir(), 1);
  EXPECT_EQ(platform.disk.currentDirectory(), "/ProgramFiles");
}

TEST_F(DirectoryTest, UnusedSlotIsPoppedAsAnEmptyPath) {
  firmware.setRecordNull();
  ASSERT_EQ(pushDir(), 1);
  EXPECT_EQ(popDir(), 0);
  EXPECT_EQ(platform.callsTo("TAP_Hdd_ChangeDir").back(), changeDirCall(""));
}

TEST_F(DirectoryTest, PopTakesTheSlotOffEvenWhenTheChangeFails) {
  firmware.setRecordPath("[disk0]/Vanished");
  ASSERT_EQ(pushDir(), 1);
  EXPECT_EQ(popDir(), 0);
  EXPECT_EQ(depth(), -1);
}

TEST_F(DirectoryTest, FirstRelativeChangeIsTakenFromProgramFiles) {
  startIn("/");
  EXPECT_EQ(changeDir("Settings"), 1);
  EXPECT_EQ(platform.disk.currentDirectory(), "/ProgramFiles/Settings");
  EXPECT_THAT(platform.calls(), ElementsAre(changeDirCall("/ProgramFiles"), changeDirCall("Settings")));
}

TEST_F(DirectoryTest, SuccessValueIsLearntOnlyOnce) {
  changeDir("/");
  platform.clearCalls();
  EXPECT_EQ(changeDir("ProgramFiles"), 1);
  EXPECT_THAT(platform.calls(), ElementsAre(changeDirCall("ProgramFiles")));
}

struct ReturnValues {
  uint32_t success;
  uint32_t failure;
};

class LearntSuccessTest : public LibraryTest, public ::testing::WithParamInterface<ReturnValues> {};

TEST_P(LearntSuccessTest, WhateverThePlatformAnswersOnSuccessCountsAsSuccess) {
  platform.changeDirSuccess = GetParam().success;
  platform.changeDirFailure = GetParam().failure;
  EXPECT_EQ(changeDir("/ProgramFiles/Settings"), 1);
  EXPECT_EQ(changeDir("/Nowhere"), 0);
  EXPECT_EQ(platform.disk.currentDirectory(), "/ProgramFiles/Settings");
}

INSTANTIATE_TEST_SUITE_P(Values, LearntSuccessTest,
                         ::testing::Values(ReturnValues{1, 0}, ReturnValues{0, 1},
                                           ReturnValues{0x55, 0xFFFFFFFF}, ReturnValues{0xFFFFFFFF, 2}),
                         [](const auto& info) {
                           return "Success" + hex(info.param.success) + "Failure" + hex(info.param.failure);
                         });

TEST_F(DirectoryTest, FailedPathIsRetriedInUtf8) {
  platform.disk.addDirectory("/Caf\xC3\xA9 au lait");
  changeDir("/");
  platform.clearCalls();
  EXPECT_EQ(changeDir("/Caf\xE9 au lait"), 1);
  EXPECT_EQ(platform.disk.currentDirectory(), "/Caf\xC3\xA9 au lait");
  EXPECT_THAT(platform.calls(), ElementsAre("TAP_Hdd_ChangeDir(\"/Caf\\xE9 au lait\")",
                                            "TAP_Hdd_ChangeDir(\"/Caf\\xC3\\xA9 au lait\")"));
}

TEST_F(DirectoryTest, FailedAsciiPathIsStillTriedASecondTimeUnchanged) {
  changeDir("/");
  platform.clearCalls();
  EXPECT_EQ(changeDir("/Nowhere"), 0);
  EXPECT_THAT(platform.calls(), ElementsAre(changeDirCall("/Nowhere"), changeDirCall("/Nowhere")));
  EXPECT_EQ(platform.disk.currentDirectory(), "/");
}

struct Utf8LengthCase {
  const char* name;
  std::string path;
  size_t expectedCalls;
};

class Utf8LengthTest : public LibraryTest, public ::testing::WithParamInterface<Utf8LengthCase> {};

// Every byte of 0x80 or more doubles; the UTF-8 form has 256 bytes with its terminator.
TEST_P(Utf8LengthTest, RetryHappensOnlyWhenTheUtf8FormFits) {
  changeDir("/");
  platform.clearCalls();
  EXPECT_EQ(changeDir(GetParam().path.c_str()), 0);
  EXPECT_EQ(platform.callsTo("TAP_Hdd_ChangeDir").size(), GetParam().expectedCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, Utf8LengthTest,
    ::testing::Values(Utf8LengthCase{"ExactlyFits", std::string(127, '\xE9') + "a", 2},
                      Utf8LengthCase{"OneByteOver", std::string(128, '\xE9'), 1},
                      Utf8LengthCase{"AsciiExactlyFits", std::string(255, 'a'), 2},
                      Utf8LengthCase{"AsciiOneOver", std::string(256, 'a'), 1},
                      Utf8LengthCase{"FarOver", std::string(600, '\xFF'), 1}),
    [](const auto& info) { return info.param.name; });

TEST_F(DirectoryTest, LongestRetriedPathReachesThePlatformWhole) {
  const std::string latin1 = "/" + std::string(127, '\xE9');
  const std::string utf8 = "/" + [] {
    std::string s;
    for (int i = 0; i < 127; ++i) s += "\xC3\xA9";
    return s;
  }();
  platform.disk.addDirectory(utf8);
  EXPECT_EQ(changeDir(latin1.c_str()), 1);
  EXPECT_EQ(platform.disk.currentDirectory(), utf8);
}

TEST_F(DirectoryTest, NullPathIsRefusedAfterTheSuccessValueIsLearnt) {
  EXPECT_EQ(changeDir(nullptr), 0);
  EXPECT_THAT(platform.calls(), ElementsAre(changeDirCall("/ProgramFiles")));
}

struct Utf8Case {
  std::string latin1;
  std::string utf8;
};

class StrToUtf8Test : public LibraryTest, public ::testing::WithParamInterface<Utf8Case> {};

TEST_P(StrToUtf8Test, HighBytesBecomeTwoAndOthersStay) {
  char dest[64];
  std::memset(dest, 'z', sizeof dest);
  fn<void(const char*, char*)>("StrToUTF8")(GetParam().latin1.c_str(), dest);
  EXPECT_EQ(std::string(dest), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Strings, StrToUtf8Test,
                         ::testing::Values(Utf8Case{"", ""}, Utf8Case{"Settings", "Settings"},
                                           Utf8Case{"\xE9", "\xC3\xA9"}, Utf8Case{"A\xA0z", "A\xC2\xA0z"},
                                           Utf8Case{"\x80\xBF\xC0\xFF", "\xC2\x80\xC2\xBF\xC3\x80\xC3\xBF"},
                                           Utf8Case{"\x7F", "\x7F"}));

TEST_F(DirectoryTest, StrToUtf8IgnoresNullArguments) {
  char dest[8] = "keep";
  fn<void(const char*, char*)>("StrToUTF8")(nullptr, dest);
  EXPECT_STREQ(dest, "keep");
  fn<void(const char*, char*)>("StrToUTF8")("x", nullptr);
}

struct CharCase {
  uint8_t byte;
  uint16_t utf8;
};

class CharToUtf8Test : public LibraryTest, public ::testing::WithParamInterface<CharCase> {};

TEST_P(CharToUtf8Test, OneCharacterGivesItsUtf8HighByteFirst) {
  const char c[2] = {static_cast<char>(GetParam().byte), '\0'};
  EXPECT_EQ(fn<uint16_t(const char*)>("CharToUTF8")(c), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Bytes, CharToUtf8Test,
                         ::testing::Values(CharCase{0x41, 0x41}, CharCase{0x00, 0x00}, CharCase{0x7F, 0x7F},
                                           CharCase{0xA0, 0xC2A0}, CharCase{0x80, 0xC280},
                                           CharCase{0xBF, 0xC2BF}, CharCase{0xC0, 0xC380},
                                           CharCase{0xE9, 0xC3A9}, CharCase{0xFF, 0xC3BF}),
                         [](const auto& info) { return "Byte" + hex(info.param.byte); });

TEST_F(DirectoryTest, CharToUtf8OfNullIsZero) {
  EXPECT_EQ(fn<uint16_t(const char*)>("CharToUTF8")(nullptr), 0);
}

}  // namespace
}  // namespace quarnel::test
