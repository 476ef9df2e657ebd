#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/disk.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;

constexpr uint32_t kSuccess = 3;  // not 1, so that nothing can lean on the usual value
constexpr uint32_t kFailure = 9;

class TempFolder {
 public:
  TempFolder() {
    std::string name = (fs::temp_directory_path() / "disk-test-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void writeFile(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

constexpr auto kFileBytes = "FW\0\x01\xE9 data\n"sv;  // eleven bytes, a zero among them
constexpr auto kSecret = "outside the disk"sv;

// The disk, and beside it what it must never reach:
//   disk/ProgramFiles/Settings/a.dat, link.dat -> a.dat, outfile -> ../../../outside/secret.dat
//   disk/ProgramFiles/top.dat, disk/Caf\xE9/
//   disk/out -> ../outside, disk/outabs -> <absolute outside>, disk/prefix -> ../disk2
//   disk/loop -> loop, disk/loopA <-> disk/loopB
//   disk/inner -> ProgramFiles/Settings, disk/innerabs -> <absolute disk/ProgramFiles>
//   outside/secret.dat, disk2/secret.dat
class Disk : public ::testing::Test {
 protected:
  Disk() : root(folder.path() / "disk"), disk(makeLayout(folder.path())) {
    disk.setChangeDirResults(kSuccess, kFailure);
  }

  static fs::path makeLayout(const fs::path& base) {
    fs::path root = base / "disk";
    const fs::path settings = root / "ProgramFiles" / "Settings";
    fs::create_directories(settings);
    fs::create_directories(root / "Caf\xE9");
    fs::create_directories(base / "outside");
    fs::create_directories(base / "disk2");
    writeFile(settings / "a.dat", kFileBytes);
    writeFile(root / "ProgramFiles" / "top.dat", "top");
    writeFile(base / "outside" / "secret.dat", kSecret);
    writeFile(base / "disk2" / "secret.dat", kSecret);
    fs::create_symlink("a.dat", settings / "link.dat");
    fs::create_symlink("../../../outside/secret.dat", settings / "outfile");
    fs::create_directory_symlink("../outside", root / "out");
    fs::create_directory_symlink(base / "outside", root / "outabs");
    fs::create_directory_symlink("../disk2", root / "prefix");
    fs::create_symlink("loop", root / "loop");
    fs::create_symlink("loopB", root / "loopA");
    fs::create_symlink("loopA", root / "loopB");
    fs::create_directory_symlink("ProgramFiles/Settings", root / "inner");
    fs::create_directory_symlink(root / "ProgramFiles", root / "innerabs");
    return root;
  }

  void enter(std::string_view path) { ASSERT_EQ(disk.changeDir(path), kSuccess) << path; }

  TempFolder folder;
  fs::path root;
  tapsim::VirtualDisk disk;
};

TEST_F(Disk, CurrentDirectoryStartsAtTheRoot) { EXPECT_EQ(disk.currentDir(), "/"); }

struct ChangeCase {
  const char* name;
  std::string_view from;
  std::string_view path;
  std::string_view landsIn;  // empty: the change fails
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class DiskChange : public Disk, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(DiskChange, LandsWhereExpectedOrFailsAndStays) {
  const ChangeCase& c = GetParam();
  enter(c.from);
  const bool succeeds = !c.landsIn.empty();
  EXPECT_EQ(disk.changeDir(c.path), succeeds ? kSuccess : kFailure);
  EXPECT_EQ(disk.currentDir(), succeeds ? c.landsIn : c.from);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DiskChange,
    ::testing::Values(
        ChangeCase{"AbsoluteFromRoot", "/", "/ProgramFiles", "/ProgramFiles"},
        ChangeCase{"RelativeFromRoot", "/", "ProgramFiles", "/ProgramFiles"},
        ChangeCase{"RelativeBelow", "/ProgramFiles", "Settings", "/ProgramFiles/Settings"},
        ChangeCase{"AbsoluteFromElsewhere", "/ProgramFiles/Settings", "/ProgramFiles", "/ProgramFiles"},
        ChangeCase{"BackToRoot", "/ProgramFiles/Settings", "/", "/"},
        ChangeCase{"DotDotUp", "/ProgramFiles/Settings", "..", "/ProgramFiles"},
        ChangeCase{"DotDotToRoot", "/ProgramFiles/Settings", "../..", "/"},
        ChangeCase{"DotsAndSlashes", "/ProgramFiles", ".//Settings/./", "/ProgramFiles/Settings"},
        ChangeCase{"DownAndUpAgain", "/ProgramFiles/Settings", "../../ProgramFiles/Settings/..", "/ProgramFiles"},
        ChangeCase{"EightBitName", "/", "Caf\xE9", "/Caf\xE9"},
        ChangeCase{"LinkInsideRelative", "/", "inner", "/ProgramFiles/Settings"},
        ChangeCase{"LinkInsideAbsolute", "/", "/innerabs/Settings", "/ProgramFiles/Settings"},
        ChangeCase{"DotDotAtRoot", "/", "..", ""},
        ChangeCase{"DotDotAboveRoot", "/ProgramFiles/Settings", "../../..", ""},
        ChangeCase{"AbsoluteDotDotAboveRoot", "/ProgramFiles", "/../ProgramFiles", ""},
        ChangeCase{"ClimbOutAndBackByName", "/ProgramFiles", "../../disk/ProgramFiles", ""},
        ChangeCase{"LinkOutRelative", "/", "out", ""},
        ChangeCase{"LinkOutAbsolute", "/", "/outabs", ""},
        ChangeCase{"LinkToSiblingSharingPrefix", "/", "prefix", ""},
        ChangeCase{"LinkLoopOnItself", "/", "loop", ""},
        ChangeCase{"LinkLoopOfTwo", "/", "loopA", ""},
        ChangeCase{"Missing", "/ProgramFiles", "Nowhere", ""},
        ChangeCase{"RegularFile", "/ProgramFiles", "top.dat", ""},
        ChangeCase{"EmptyPath", "/ProgramFiles", "", ""},
        ChangeCase{"ZeroByteInside", "/", "ProgramFiles\0/Settings"sv, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Disk, HostAbsolutePathIsTakenAsDiskPath) {
  enter("/ProgramFiles");
  EXPECT_EQ(disk.changeDir((folder.path() / "outside").string()), kFailure);
  EXPECT_EQ(disk.changeDir(root.string()), kFailure);
  EXPECT_EQ(disk.currentDir(), "/ProgramFiles");
}

struct ResultsCase {
  uint32_t success;
  uint32_t failure;
};

void PrintTo(const ResultsCase& c, std::ostream* out) { *out << c.success << " / " << c.failure; }

class DiskResults : public ::testing::TestWithParam<ResultsCase> {};

TEST_P(DiskResults, ChangeDirAnswersWithTheConfiguredValues) {
  TempFolder folder;
  fs::create_directories(folder.path() / "ProgramFiles");
  tapsim::VirtualDisk disk(folder.path());
  disk.setChangeDirResults(GetParam().success, GetParam().failure);
  EXPECT_EQ(disk.changeDir("/ProgramFiles"), GetParam().success);
  EXPECT_EQ(disk.changeDir("Missing"), GetParam().failure);
  EXPECT_EQ(disk.currentDir(), "/ProgramFiles");
}

INSTANTIATE_TEST_SUITE_P(Values, DiskResults,
                         ::testing::Values(ResultsCase{1, 0}, ResultsCase{0, 1}, ResultsCase{0x5A5A, 0},
                                           ResultsCase{0, 0xFFFFFFFF}));

TEST(DiskDefaults, ChangeDirAnswersOneForSuccessAndZeroForFailure) {
  TempFolder folder;
  fs::create_directories(folder.path() / "ProgramFiles");
  tapsim::VirtualDisk disk(folder.path());
  EXPECT_EQ(disk.changeDir("ProgramFiles"), 1u);
  EXPECT_EQ(disk.changeDir("Missing"), 0u);
}

struct ExistCase {
  std::string_view name;
  bool exists;
};

void PrintTo(const ExistCase& c, std::ostream* out) { *out << '"' << c.name << "\" " << c.exists; }

class DiskExist : public Disk, public ::testing::WithParamInterface<ExistCase> {};

TEST_P(DiskExist, SeesOnlyFilesAndDirectoriesInsideTheRoot) {
  enter("/ProgramFiles/Settings");
  EXPECT_EQ(disk.exists(GetParam().name), GetParam().exists);
  EXPECT_EQ(disk.currentDir(), "/ProgramFiles/Settings");
}

INSTANTIATE_TEST_SUITE_P(
    Names, DiskExist,
    ::testing::Values(ExistCase{"a.dat", true}, ExistCase{"link.dat", true}, ExistCase{"..", true},
                      ExistCase{"../top.dat", true}, ExistCase{"/ProgramFiles/top.dat", true},
                      ExistCase{"/inner/a.dat", true}, ExistCase{"top.dat", false},
                      ExistCase{"missing.dat", false}, ExistCase{"outfile", false},
                      ExistCase{"/out/secret.dat", false}, ExistCase{"/prefix/secret.dat", false},
                      ExistCase{"../../../outside/secret.dat", false}, ExistCase{"/loop", false},
                      ExistCase{"", false}, ExistCase{"a.dat\0x"sv, false}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(Disk, FileIsOpenedReadAndClosedInTheCurrentDirectory) {
  EXPECT_EQ(disk.open("a.dat"), nullptr) << "found from the root";
  enter("/ProgramFiles/Settings");
  TapFile* file = disk.open("a.dat");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(disk.length(file), kFileBytes.size());
  EXPECT_EQ(disk.openFiles(), 1u);
  EXPECT_EQ(disk.openFilePaths(), std::vector<std::string>{"/ProgramFiles/Settings/a.dat"});

  std::array<char, kFileBytes.size()> buffer{};
  EXPECT_EQ(disk.read(buffer.data(), static_cast<uint32_t>(buffer.size()), 1, file), 1u);
  EXPECT_EQ(std::string_view(buffer.data(), buffer.size()), kFileBytes);

  EXPECT_TRUE(disk.close(file));
  EXPECT_EQ(disk.openFiles(), 0u);
  EXPECT_TRUE(disk.openFilePaths().empty());
}

TEST_F(Disk, ReadingGoesOnFromWhereTheLastReadStopped) {
  enter("/ProgramFiles/Settings");
  TapFile* file = disk.open("a.dat");
  ASSERT_NE(file, nullptr);
  std::array<char, 4> first{}, second{};
  EXPECT_EQ(disk.read(first.data(), 2, 2, file), 2u);
  EXPECT_EQ(disk.read(second.data(), 4, 1, file), 1u);
  EXPECT_EQ(std::string_view(first.data(), 4), kFileBytes.substr(0, 4));
  EXPECT_EQ(std::string_view(second.data(), 4), kFileBytes.substr(4, 4));
  disk.close(file);
}

constexpr unsigned char kUntouched = 0xCC;

TEST_F(Disk, ReadingMoreThanTheFileHoldsFailsAndWritesOnlyTheFile) {
  enter("/ProgramFiles/Settings");
  TapFile* file = disk.open("a.dat");
  ASSERT_NE(file, nullptr);
  std::array<unsigned char, 64> buffer;
  buffer.fill(kUntouched);
  EXPECT_EQ(disk.read(buffer.data(), 20, 1, file), 0u);
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(buffer.data()), kFileBytes.size()), kFileBytes);
  for (size_t i = kFileBytes.size(); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kUntouched) << i;
  disk.close(file);
}

TEST_F(Disk, ReadCountsWholeBlocksAndNeverWritesPastTheRequest) {
  enter("/ProgramFiles/Settings");
  TapFile* file = disk.open("a.dat");
  ASSERT_NE(file, nullptr);
  std::array<unsigned char, 64> buffer;
  buffer.fill(kUntouched);
  EXPECT_EQ(disk.read(buffer.data(), 3, 2, file), 2u);
  for (size_t i = 6; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], kUntouched) << i;
  // Five bytes are left: one whole block of three, and a part of the next.
  EXPECT_EQ(disk.read(buffer.data(), 3, 2, file), 1u);
  EXPECT_EQ(disk.read(buffer.data(), 3, 1, file), 0u);
  disk.close(file);
}

struct OversizeCase {
  uint32_t blockSize;
  uint32_t count;
};

void PrintTo(const OversizeCase& c, std::ostream* out) { *out << c.blockSize << " x " << c.count; }

class DiskOversize : public Disk, public ::testing::WithParamInterface<OversizeCase> {};

TEST_P(DiskOversize, RequestBeyondThirtyTwoBitsIsRefusedUntouched) {
  enter("/ProgramFiles/Settings");
  TapFile* file = disk.open("a.dat");
  ASSERT_NE(file, nullptr);
  std::array<unsigned char, 16> buffer;
  buffer.fill(kUntouched);
  EXPECT_EQ(disk.read(buffer.data(), GetParam().blockSize, GetParam().count, file), 0u);
  for (unsigned char byte : buffer) EXPECT_EQ(byte, kUntouched);
  // Nothing was consumed either.
  EXPECT_EQ(disk.read(buffer.data(), 2, 1, file), 1u);
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(buffer.data()), 2), kFileBytes.substr(0, 2));
  disk.close(file);
}

INSTANTIATE_TEST_SUITE_P(Requests, DiskOversize,
                         // Products that wrap to 0, to 2 and to almost everything in 32 bits.
                         ::testing::Values(OversizeCase{0x10000, 0x10000}, OversizeCase{0x80000001, 2},
                                           OversizeCase{3, 0x55555556}, OversizeCase{2, 0x80000000},
                                           OversizeCase{0xFFFFFFFF, 2}, OversizeCase{0xFFFFFFFF, 0xFFFFFFFF}));

TEST_F(Disk, EmptyRequestReadsNothing) {
  enter("/ProgramFiles/Settings");
  TapFile* file = disk.open("a.dat");
  std::array<unsigned char, 4> buffer;
  buffer.fill(kUntouched);
  EXPECT_EQ(disk.read(buffer.data(), 0, 1, file), 0u);
  EXPECT_EQ(disk.read(buffer.data(), 4, 0, file), 0u);
  EXPECT_EQ(disk.read(nullptr, 4, 1, file), 0u);
  for (unsigned char byte : buffer) EXPECT_EQ(byte, kUntouched);
  disk.close(file);
}

TEST_F(Disk, HandlesTheDiskNeverGaveOutAreRefusedUntouched) {
  std::array<unsigned char, 4> buffer;
  buffer.fill(kUntouched);
  // Dereferencing any of these would crash the test.
  for (TapFile* stranger : {static_cast<TapFile*>(nullptr), reinterpret_cast<TapFile*>(uintptr_t{0x10}),
                            reinterpret_cast<TapFile*>(~uintptr_t{0xF})}) {
    EXPECT_EQ(disk.length(stranger), 0u);
    EXPECT_EQ(disk.read(buffer.data(), 4, 1, stranger), 0u);
    EXPECT_FALSE(disk.close(stranger));
  }
  for (unsigned char byte : buffer) EXPECT_EQ(byte, kUntouched);
}

TEST_F(Disk, ClosedHandleIsRefusedAndNeverHandedOutAgain) {
  enter("/ProgramFiles/Settings");
  TapFile* first = disk.open("a.dat");
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(disk.close(first));
  TapFile* second = disk.open("a.dat");
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);

  std::array<unsigned char, 4> buffer;
  buffer.fill(kUntouched);
  EXPECT_EQ(disk.length(first), 0u);
  EXPECT_EQ(disk.read(buffer.data(), 4, 1, first), 0u);
  EXPECT_FALSE(disk.close(first));
  for (unsigned char byte : buffer) EXPECT_EQ(byte, kUntouched);
  EXPECT_EQ(disk.openFiles(), 1u);
  EXPECT_EQ(disk.length(second), kFileBytes.size());
  disk.close(second);
}

TEST_F(Disk, OpenFilesAreListedInTheOrderOpened) {
  TapFile* top = disk.open("/ProgramFiles/top.dat");
  TapFile* data = disk.open("/inner/link.dat");
  ASSERT_NE(top, nullptr);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(disk.openFilePaths(), (std::vector<std::string>{"/ProgramFiles/top.dat", "/ProgramFiles/Settings/a.dat"}));
  disk.close(top);
  EXPECT_EQ(disk.openFilePaths(), std::vector<std::string>{"/ProgramFiles/Settings/a.dat"});
  disk.close(data);
}

class DiskOpenRefused : public Disk, public ::testing::WithParamInterface<std::string_view> {};

TEST_P(DiskOpenRefused, GivesNoHandle) {
  enter("/ProgramFiles/Settings");
  EXPECT_EQ(disk.open(GetParam()), nullptr);
  EXPECT_EQ(disk.openFiles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Names, DiskOpenRefused,
                         ::testing::Values("missing.dat"sv, "."sv, ".."sv, "/ProgramFiles"sv, "outfile"sv,
                                           "/out/secret.dat"sv, "/outabs/secret.dat"sv, "/prefix/secret.dat"sv,
                                           "../../../outside/secret.dat"sv, "/loopA"sv, ""sv),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(Disk, LinkInsideTheRootOpensItsTarget) {
  enter("/ProgramFiles/Settings");
  TapFile* file = disk.open("link.dat");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(disk.length(file), kFileBytes.size());
  disk.close(file);
}

TEST_F(Disk, LengthOfAFileBeyondFourGigabytesIsCappedNotWrapped) {
  const fs::path big = root / "ProgramFiles" / "big.bin";
  writeFile(big, "");
  std::error_code error;
  fs::resize_file(big, (uint64_t{1} << 32) + 5, error);
  if (error) GTEST_SKIP() << "no sparse file here: " << error.message();
  TapFile* file = disk.open("/ProgramFiles/big.bin");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(disk.length(file), 0xFFFFFFFFu);
  disk.close(file);
}

TEST(DiskRoot, MissingFolderOrPlainFileIsRefusedWithItsName) {
  TempFolder folder;
  writeFile(folder.path() / "plain", "x");
  for (const fs::path& bad : {folder.path() / "missing", folder.path() / "plain"}) {
    try {
      tapsim::VirtualDisk disk(bad);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(bad.string()), std::string::npos) << e.what();
    }
  }
}

TEST(DiskRoot, RootReachedThroughALinkStillKeepsItsInsideReachable) {
  TempFolder folder;
  fs::create_directories(folder.path() / "real" / "ProgramFiles");
  writeFile(folder.path() / "real" / "ProgramFiles" / "f.dat", "abc");
  fs::create_directory_symlink(folder.path() / "real", folder.path() / "alias");
  tapsim::VirtualDisk disk(folder.path() / "alias");
  EXPECT_EQ(disk.changeDir("/ProgramFiles"), 1u);
  EXPECT_TRUE(disk.exists("f.dat"));
  EXPECT_EQ(disk.changeDir(".."), 1u);
  EXPECT_EQ(disk.changeDir(".."), 0u);
  EXPECT_EQ(disk.currentDir(), "/");
}

TEST(DiskFolder, DefaultFolderHasProgramFilesWithSettingsAndGoesAwayWithItsOwner) {
  fs::path made;
  {
    auto folder = tapsim::DiskFolder::createDefault();
    made = folder.path();
    EXPECT_TRUE(fs::is_directory(made / "ProgramFiles" / "Settings"));
    tapsim::VirtualDisk disk(made);
    EXPECT_EQ(disk.changeDir("/ProgramFiles/Settings"), 1u);
  }
  EXPECT_FALSE(fs::exists(made));
}

TEST(DiskFolder, EveryDefaultFolderIsFresh) {
  auto first = tapsim::DiskFolder::createDefault();
  auto second = tapsim::DiskFolder::createDefault();
  EXPECT_NE(first.path(), second.path());
}

TEST(DiskFolder, KeptFolderStaysAfterItsOwner) {
  fs::path made;
  {
    auto folder = tapsim::DiskFolder::createDefault();
    folder.keep();
    made = folder.path();
  }
  EXPECT_TRUE(fs::is_directory(made / "ProgramFiles" / "Settings"));
  fs::remove_all(made);
}

TEST(DiskFolder, MovedOwnerRemovesTheFolderOnlyOnce) {
  fs::path made;
  {
    auto folder = tapsim::DiskFolder::createDefault();
    made = folder.path();
    tapsim::DiskFolder moved = std::move(folder);
    EXPECT_EQ(moved.path(), made);
    EXPECT_TRUE(fs::exists(made));
  }
  EXPECT_FALSE(fs::exists(made));
}

}  // namespace
