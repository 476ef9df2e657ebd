// What a headless run leaves for people and for tests: PNG snapshots, a
// contact sheet, checksum lines.
#include <gtest/gtest.h>

#include <set>

#include "process.h"

namespace tapsim_test {
namespace {

namespace fs = std::filesystem;

const std::string kPngSignature = "\x89PNG\r\n\x1a\n";

uint32_t bigEndianWord(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes.at(at + i));
  return value;
}

// Width and height from the PNG's IHDR chunk; 0x0 when it is no PNG.
std::pair<uint32_t, uint32_t> pngSize(const fs::path& file) {
  const std::string bytes = readText(file);
  if (bytes.size() < 24 || !bytes.starts_with(kPngSignature) || bytes.substr(12, 4) != "IHDR") return {0, 0};
  return {bigEndianWord(bytes, 16), bigEndianWord(bytes, 20)};
}

uint64_t syncedScreens(const Outcome& outcome) {
  for (const auto& line : outcome.outLines())
    if (line.starts_with("screens synced: ")) return std::stoull(line.substr(16));
  return 0;
}

TEST(Snapshots, OnePngPerSyncedScreenNumberedFromOne) {
  Sandbox sandbox;
  const fs::path folder = sandbox / "shots";
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "next next prev quit", "--snapshots", folder.string(), QUARNEL_MODULE});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const uint64_t syncs = syncedScreens(outcome);
  EXPECT_EQ(syncs, 4u) << "page 1 and three page changes";
  std::set<std::string> expected, written;
  for (uint64_t n = 1; n <= syncs; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "screen-%03llu.png", static_cast<unsigned long long>(n));
    expected.insert(name);
  }
  for (const auto& entry : fs::directory_iterator(folder)) {
    written.insert(entry.path().filename().string());
    EXPECT_EQ(pngSize(entry.path()), (std::pair<uint32_t, uint32_t>{720, 576})) << entry.path();
  }
  EXPECT_EQ(written, expected);
  EXPECT_NE(readText(folder / "screen-001.png"), readText(folder / "screen-002.png")) << "page 2 looks like page 1";
  EXPECT_EQ(readText(folder / "screen-002.png"), readText(folder / "screen-004.png")) << "page 2 both times";
  EXPECT_TRUE(sandbox.leftovers().empty());
}

TEST(Snapshots, FailingInTheMiddleOfARunEndsItWithOneLine) {
  Sandbox sandbox;
  const fs::path folder = sandbox / "shots";
  fs::create_directories(folder / "screen-002.png");  // the second screen cannot be written
  const Outcome outcome = runTapsim(
      sandbox, {"--headless", "--keys", "next*5 quit", "--snapshots", folder.string(), QUARNEL_MODULE}, std::chrono::seconds(10));
  ASSERT_FALSE(outcome.timedOut) << "tapsim hung once it could not write a screen";
  EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
  const auto lines = outcome.errLines();
  ASSERT_EQ(lines.size(), 1u) << outcome.err;
  EXPECT_TRUE(contains(lines[0], "screen-002.png")) << lines[0];
  EXPECT_FALSE(contains(outcome.out, "snapshots:")) << "no report of outputs that were not made";
  EXPECT_FALSE(fs::exists(folder / "screen-003.png"));
  EXPECT_FALSE(outcome.strayProcesses);
  EXPECT_TRUE(sandbox.leftovers().empty());
}

TEST(ContactSheet, IsWrittenAsAPngAndNamedInTheReport) {
  Sandbox sandbox;
  const fs::path sheet = sandbox / "sheet.png";
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "next next quit", "--contact-sheet", sheet.string(), QUARNEL_MODULE});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const auto [width, height] = pngSize(sheet);
  EXPECT_GT(width, 0u);
  EXPECT_GT(height, 0u);
  EXPECT_TRUE(contains(outcome.out, "contact sheet: " + sheet.string())) << outcome.out;
}

TEST(Checksums, GoldenScriptGivesTheReviewedLines) {
  Sandbox sandbox;
  const fs::path sums = sandbox / "sums.txt";
  const Outcome outcome = runTapsim(
      sandbox, {"--headless", "--keys", "next*21 prev*21 quit", "--checksums", sums.string(), QUARNEL_MODULE});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(readText(sums), readText(GOLDEN_PAGES));
  EXPECT_EQ(syncedScreens(outcome), 43u);
}

}  // namespace
}  // namespace tapsim_test

namespace tapsim_test {
namespace {

TEST(KeptDisk, StaysWhereTheReportSaysWithItsDatabase) {
  Sandbox sandbox;
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", "--keep-disk", QUARNEL_MODULE});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  const auto left = sandbox.leftovers();
  ASSERT_EQ(left.size(), 1u);
  const auto disk = sandbox.tmp() / left[0];
  EXPECT_TRUE(contains(outcome.out, "disk kept at " + disk.string())) << outcome.out;
  EXPECT_TRUE(std::filesystem::is_regular_file(disk / "ProgramFiles" / "Settings" / "FirmwareTMS.dat"));
}

}  // namespace
}  // namespace tapsim_test
