// Finding a settings file in the standard places, and where the current
// directory ends up afterwards.
#include "lib_fixture.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;

constexpr const char* kStart = "/Home";
constexpr const char* kProgramFiles = "/ProgramFiles";
constexpr const char* kSettings = "/ProgramFiles/Settings";
constexpr const char* kMine = "/ProgramFiles/Settings/Mine";

class LocatorTest : public LibraryTest {
 protected:
  LocatorTest() {
    platform.disk.addDirectory(kMine);
    startIn(kStart);
  }
  void placeFileIn(const std::string& directory) {
    platform.disk.addFile(directory + "/my.ini", "[x]\n");
  }
};

struct LocatorCase {
  const char* name;
  std::vector<std::string> placedIn;
  const char* subdir;
  int32_t result;
  const char* endsIn;
};

class LocatorPlacesTest : public LocatorTest, public ::testing::WithParamInterface<LocatorCase> {};

TEST_P(LocatorPlacesTest, ResultAndFinalDirectoryFollowWhereTheFileIs) {
  for (const auto& directory : GetParam().placedIn) placeFileIn(directory);
  EXPECT_EQ(locate("my.ini", GetParam().subdir), GetParam().result);
  EXPECT_EQ(platform.disk.currentDirectory(), GetParam().endsIn);
  EXPECT_EQ(firmware.recordPath(), std::string(FakeFirmware::kPathPrefix) + GetParam().endsIn);
}

INSTANTIATE_TEST_SUITE_P(
    Places, LocatorPlacesTest,
    ::testing::Values(
        LocatorCase{"Nowhere", {}, "Mine", NotFound, kStart},
        LocatorCase{"CurrentDirectoryFirst", {kStart, kProgramFiles}, "Mine", CurrentDir, kStart},
        LocatorCase{"ProgramFilesOnly", {kProgramFiles}, "Mine", ProgramFilesDir, kProgramFiles},
        LocatorCase{"SettingsOnly", {kSettings}, "Mine", SettingsDir, kSettings},
        LocatorCase{"SettingsWinsOverProgramFiles", {kProgramFiles, kSettings}, "Mine", SettingsDir, kSettings},
        LocatorCase{"SubdirectoryOnly", {kMine}, "Mine", SettingsSubDir, kMine},
        LocatorCase{"SubdirectoryWinsOverAll", {kProgramFiles, kSettings, kMine}, "Mine", SettingsSubDir, kMine},
        LocatorCase{"LeadingSlashRefusedAndDirectoryRestored", {kMine}, "/Mine", NotFound, kStart},
        LocatorCase{"SubdirectoryWithoutTheFileFallsBack", {kProgramFiles}, "Mine", ProgramFilesDir,
                    kProgramFiles},
        LocatorCase{"MissingSubdirectoryFallsBack", {kSettings}, "Other", SettingsDir, kSettings},
        LocatorCase{"NullSubdirectory", {kSettings, kMine}, nullptr, SettingsDir, kSettings},
        LocatorCase{"EmptySubdirectory", {kMine}, "", NotFound, kStart}),
    [](const auto& info) { return info.param.name; });

TEST_F(LocatorTest, SearchVisitsThePlacesInOrder) {
  placeFileIn(kProgramFiles);
  EXPECT_EQ(locate("my.ini", "Mine"), ProgramFilesDir);
  EXPECT_THAT(platform.calls(),
              ElementsAre("TAP_Hdd_Exist(\"my.ini\")", changeDirCall("/ProgramFiles"),
                          changeDirCall("/ProgramFiles"), "TAP_Hdd_Exist(\"my.ini\")",
                          changeDirCall("Settings"), "TAP_Hdd_Exist(\"my.ini\")", changeDirCall("Mine"),
                          "TAP_Hdd_Exist(\"my.ini\")", changeDirCall("/ProgramFiles")));
}

TEST_F(LocatorTest, FindInTheCurrentDirectoryChangesNothing) {
  placeFileIn(kStart);
  EXPECT_EQ(locate("my.ini", "Mine"), CurrentDir);
  EXPECT_THAT(platform.calls(), ElementsAre("TAP_Hdd_Exist(\"my.ini\")"));
}

TEST_F(LocatorTest, NullNameIsNotFoundWithoutAnyCall) {
  EXPECT_EQ(locate(nullptr, "Mine"), NotFound);
  EXPECT_THAT(platform.calls(), ElementsAre());
}

TEST_F(LocatorTest, UnreadableCurrentDirectoryLeavesTheSearchWhereItEnded) {
  firmware.setRecordPathNull();
  EXPECT_EQ(locate("my.ini", "Mine"), NotFound);
  EXPECT_EQ(platform.disk.currentDirectory(), kMine);
}

TEST_F(LocatorTest, OverlongCurrentDirectoryIsNotSavedAndNothingOverflows) {
  firmware.setRecordPath("[disk0]/" + std::string(400, 'q'));
  EXPECT_EQ(locate("my.ini", "Mine"), NotFound);
  EXPECT_EQ(platform.disk.currentDirectory(), kMine);
}

TEST_F(LocatorTest, DirectoryThatCannotBeEnteredEndsTheSearchWithWhatWasFound) {
  // Learn the success value first, then take Settings away from the search.
  changeDir(kStart);
  FakeDisk bare;
  bare.addDirectory(kProgramFiles);
  bare.addDirectory(kStart);
  bare.addFile(std::string(kProgramFiles) + "/my.ini", "x");
  bare.setCurrentDirectory(kStart);
  platform.disk = bare;
  platform.clearCalls();
  EXPECT_EQ(locate("my.ini", "Mine"), ProgramFilesDir);
  EXPECT_EQ(platform.disk.currentDirectory(), kProgramFiles);
  EXPECT_EQ(platform.callsTo("TAP_Hdd_ChangeDir").size(), 4u);  // Settings tried twice
}

}  // namespace
}  // namespace quarnel::test
