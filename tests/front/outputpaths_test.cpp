// Which outputs a run refuses before it writes anything, and which files the
// snapshot folder's clean-up takes.
#include "front/outputpaths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "temp_dir.h"

namespace tapsim {
namespace {

namespace fs = std::filesystem;

// A module, a disk with its database, an output folder, and links into each.
class Layout {
 public:
  explicit Layout(const TempDir& dir) : root_(dir / "") {
    fs::create_directories(root_ / "disk" / "ProgramFiles" / "Settings");
    fs::create_directories(root_ / "out" / "shots");
    std::ofstream(root_ / "module.tap") << "module";
    std::ofstream(root_ / "disk" / "ProgramFiles" / "Settings" / "FirmwareTMS.dat") << "database";
    std::ofstream(root_ / "out" / "sums.txt") << "earlier sums";
    fs::create_symlink(root_ / "module.tap", root_ / "out" / "module-link");
    fs::create_hard_link(root_ / "module.tap", root_ / "out" / "module-hard");
    fs::create_directory_symlink(root_ / "disk", root_ / "out" / "disk-link");
    fs::create_symlink(root_ / "out" / "sums.txt", root_ / "out" / "sums-link");
    fs::create_symlink(root_ / "disk" / "ProgramFiles" / "Settings" / "FirmwareTMS.dat", root_ / "out" / "db-link");
  }
  fs::path operator/(const std::string& name) const { return root_ / name; }
  fs::path module() const { return root_ / "module.tap"; }
  fs::path disk() const { return root_ / "disk"; }

 private:
  fs::path root_;
};

// Paths are relative to the layout; "" is an output not asked for.
struct Case {
  const char* name;
  OutputPaths outputs;
  std::string refusal;  // a part of the line; empty: the outputs may be written
  const char* module = "module.tap";
  friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

fs::path under(const Layout& layout, const fs::path& relative) {
  return relative.empty() ? relative : layout / relative.string();
}

class RefusedOutput : public testing::TestWithParam<Case> {};

TEST_P(RefusedOutput, NamesTheClashOrLetsTheRunGo) {
  TempDir dir;
  const Layout layout(dir);
  const OutputPaths& o = GetParam().outputs;
  const OutputPaths outputs{under(layout, o.snapshots), under(layout, o.contactSheet), under(layout, o.checksums),
                            under(layout, o.trace), under(layout, o.windowCaptures), under(layout, o.record)};
  const fs::path module = layout / GetParam().module;
  if (!fs::exists(module)) std::ofstream(module) << "a module among the screens";
  const auto why = refusedOutput(outputs, module, layout.disk());
  if (GetParam().refusal.empty()) {
    EXPECT_FALSE(why) << *why;
  } else {
    ASSERT_TRUE(why);
    EXPECT_NE(why->find(GetParam().refusal), std::string::npos) << *why;
  }
}

const std::string kModule = "is the module file";
const std::string kOnDisk = "lies on the simulated disk";
const std::string kSame = "name the same file";

INSTANTIATE_TEST_SUITE_P(
    Outputs, RefusedOutput,
    testing::Values(
        Case{"AllApartAreWritten", {"out/shots", "out/sheet.png", "out/sums.txt", "out/trace", "out/window", "out/keys"}, ""},
        Case{"SnapshotsAndCapturesMayShareAFolder", {.snapshots = "out/shots", .windowCaptures = "out/shots"}, ""},
        Case{"ContactSheetBesideTheScreens", {.snapshots = "out/shots", .contactSheet = "out/shots/sheet.png"}, ""},
        Case{"ChecksumsOverTheModule", {.checksums = "module.tap"}, kModule},
        Case{"RecordOverALinkToTheModule", {.record = "out/module-link"}, kModule},
        Case{"RecordAndChecksumsOneFile", {.checksums = "out/sums.txt", .record = "out/sums-link"}, kSame},
        Case{"RecordOnTheDisk", {.record = "disk/keys.txt"}, kOnDisk},
        Case{"TraceOverTheModuleByARelativePath", {.trace = "out/../out/shots/../../module.tap"}, kModule},
        Case{"ChecksumsOverALinkToTheModule", {.checksums = "out/module-link"}, kModule},
        Case{"ChecksumsOverAHardLinkOfTheModule", {.checksums = "out/module-hard"}, kModule},
        Case{"TraceOverTheDiskDatabase", {.trace = "disk/ProgramFiles/Settings/FirmwareTMS.dat"}, kOnDisk},
        Case{"ANewFileOnTheDisk", {.checksums = "disk/new.txt"}, kOnDisk},
        Case{"SnapshotsFolderOnTheDisk", {.snapshots = "disk/ProgramFiles"}, kOnDisk},
        Case{"ChecksumsOverALinkIntoTheDisk", {.checksums = "out/db-link"}, kOnDisk},
        Case{"OntoTheDiskThroughALinkedFolder", {.contactSheet = "out/disk-link/sheet.png"}, kOnDisk},
        Case{"ChecksumsAndTraceOneFile", {.checksums = "out/sums.txt", .trace = "out/./sums.txt"}, kSame},
        Case{"TraceThroughALinkToTheChecksums", {.checksums = "out/sums.txt", .trace = "out/sums-link"}, kSame},
        Case{"ContactSheetAsAScreenName", {.snapshots = "out/shots", .contactSheet = "out/shots/screen-003.png"},
             "screen-NNN.png"},
        Case{"ChecksumsAsAWindowCaptureName",
             {.checksums = "out/shots/window-1000.png", .windowCaptures = "out/shots"}, "window-NNN.png"},
        Case{"ChecksumsIsTheSnapshotsFolder", {.snapshots = "out/shots/", .checksums = "out/shots"}, kSame},
        Case{"TheModuleAmongTheScreens", {.snapshots = "out/shots"}, "the module", "out/shots/screen-001.png"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RefusedOutput, WithoutADiskOfTheUsersAnyFolderWillDo) {
  TempDir dir;
  const Layout layout(dir);
  EXPECT_FALSE(refusedOutput({.checksums = layout / "disk/new.txt"}, layout.module(), {}));
}

TEST(RemoveSnapshots, TakesOnlyFilesWithScreenNamesAndSaysHowMany) {
  TempDir dir;
  const fs::path shots = dir / "shots";
  fs::create_directories(shots / "screen-002.png");  // a folder of that name is not one of ours
  std::ofstream(dir / "outside.png") << "not in the folder";
  for (const char* name : {"screen-001.png", "screen-1000.png", "screen-01.png", "screen-001.png.bak",
                           "Screen-001.png", "screen-0x1.png", "notes.txt", "window-001.png"})
    std::ofstream(shots / name) << name;
  fs::create_symlink(dir / "outside.png", shots / "screen-003.png");
  std::string error;
  EXPECT_EQ(removeNumbered(shots, kSnapshotPrefix, error), std::optional<size_t>(3)) << error;
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(shots)) left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"screen-002.png", "screen-01.png", "screen-001.png.bak", "Screen-001.png",
                                         "screen-0x1.png", "notes.txt", "window-001.png"}));
  EXPECT_TRUE(fs::exists(dir / "outside.png")) << "a link's target went with it";
}

}  // namespace
}  // namespace tapsim
