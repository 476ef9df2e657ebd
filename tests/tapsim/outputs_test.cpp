// What a headless run leaves for people and for tests: PNG snapshots, a
// contact sheet, checksum lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include <signal.h>

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

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

void writeText(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

// A copy of Quarnel that a refused output could spoil without harm.
std::string moduleCopy(const Sandbox& s) {
  fs::copy_file(QUARNEL_MODULE, s / "mod.tap");
  return (s / "mod.tap").string();
}

// One hostile or unlucky use of the outputs: the arguments it runs with, what
// tapsim must say (on either stream) and the files it must leave.
struct OutputCase {
  const char* name;
  std::function<std::vector<std::string>(const Sandbox&)> args;
  int exitCode;
  std::string said;
  std::function<void(const Sandbox&)> leaves;
  friend void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.name; }
};

class OutputUse : public testing::TestWithParam<OutputCase> {};

TEST_P(OutputUse, SaysWhatHappenedAndKeepsEveryFileWholeOrAsItWas) {
  Sandbox sandbox;
  std::vector<std::string> args{"--headless"};
  for (auto& arg : GetParam().args(sandbox)) args.push_back(arg);
  const Outcome outcome = runTapsim(sandbox, args);
  EXPECT_EQ(outcome.exitCode, GetParam().exitCode) << outcome.out << outcome.err;
  EXPECT_TRUE(contains(outcome.out + outcome.err, GetParam().said)) << outcome.out << outcome.err;
  GetParam().leaves(sandbox);
  EXPECT_TRUE(sandbox.leftovers().empty());
}

const std::string kModuleText = readText(QUARNEL_MODULE);

INSTANTIATE_TEST_SUITE_P(
    Outputs, OutputUse,
    testing::Values(
        OutputCase{"EarlierScreensAreRemovedAndCounted",
                   [](const Sandbox& s) {
                     for (const char* old : {"screen-001.png", "screen-002.png", "screen-003.png", "screen-120.png"})
                       writeText(s / "shots" / old, "an earlier run's");
                     writeText(s / "shots" / "notes.txt", "mine");
                     return std::vector<std::string>{"--keys", "next quit", "--snapshots", (s / "shots").string(),
                                                     QUARNEL_MODULE};
                   },
                   0, "removed 4 screen-NNN.png",
                   [](const Sandbox& s) {
                     EXPECT_EQ(namesIn(s / "shots"),
                               (std::set<std::string>{"screen-001.png", "screen-002.png", "notes.txt"}));
                     EXPECT_EQ(pngSize(s / "shots" / "screen-002.png"), (std::pair<uint32_t, uint32_t>{720, 576}));
                     EXPECT_EQ(readText(s / "shots" / "notes.txt"), "mine");
                   }},
        OutputCase{"NoScreenLeavesTheEarlierSheetAndSaysSo",
                   [](const Sandbox& s) {
                     writeText(s / "sheet.png", "an earlier sheet");
                     return std::vector<std::string>{"--keys", "quit", "--contact-sheet", (s / "sheet.png").string(),
                                                     "--checksums", (s / "sums.txt").string(), "--snapshots",
                                                     (s / "shots").string(), testModule("quiet").string()};
                   },
                   0, "contact sheet: none written, no screen was synced",
                   [](const Sandbox& s) {
                     EXPECT_EQ(readText(s / "sheet.png"), "an earlier sheet");
                     EXPECT_EQ(readText(s / "sums.txt"), "");
                     EXPECT_TRUE(namesIn(s / "shots").empty());
                   }},
        OutputCase{"EmptyChecksumsAreSaidInWords",
                   [](const Sandbox& s) {
                     return std::vector<std::string>{"--keys", "quit", "--checksums", (s / "sums.txt").string(),
                                                     testModule("quiet").string()};
                   },
                   0, "is empty, no screen was synced", [](const Sandbox&) {}},
        OutputCase{"ChecksumsOverTheModuleAreRefused",
                   [](const Sandbox& s) {
                     const auto module = moduleCopy(s);
                     return std::vector<std::string>{"--keys", "quit", "--checksums", module, module};
                   },
                   2, "is the module file",
                   [](const Sandbox& s) { EXPECT_EQ(readText(s / "mod.tap"), kModuleText); }},
        OutputCase{"TraceOverTheModuleIsRefused",
                   [](const Sandbox& s) {
                     const auto module = moduleCopy(s);
                     return std::vector<std::string>{"--keys", "quit", "--trace", module, module};
                   },
                   2, "is the module file",
                   [](const Sandbox& s) { EXPECT_EQ(readText(s / "mod.tap"), kModuleText); }},
        OutputCase{"TraceOverTheDiskDatabaseIsRefused",
                   [](const Sandbox& s) {
                     writeText(s / "disk/ProgramFiles/Settings/FirmwareTMS.dat", "the disk's database");
                     return std::vector<std::string>{
                         "--keys", "quit", "--disk", (s / "disk").string(), "--trace",
                         (s / "disk/ProgramFiles/Settings/FirmwareTMS.dat").string(), QUARNEL_MODULE};
                   },
                   2, "lies on the simulated disk",
                   [](const Sandbox& s) {
                     EXPECT_EQ(readText(s / "disk/ProgramFiles/Settings/FirmwareTMS.dat"), "the disk's database");
                   }},
        OutputCase{"ContactSheetAmongTheScreensIsRefused",
                   [](const Sandbox& s) {
                     writeText(s / "shots" / "screen-001.png", "an earlier sheet");
                     return std::vector<std::string>{"--keys", "quit", "--snapshots", (s / "shots").string(),
                                                     "--contact-sheet", (s / "shots/screen-001.png").string(),
                                                     QUARNEL_MODULE};
                   },
                   2, "screen-NNN.png",
                   [](const Sandbox& s) {
                     EXPECT_EQ(readText(s / "shots" / "screen-001.png"), "an earlier sheet");
                   }},
        OutputCase{"ChecksumsToAFullDeviceSayWhy",
                   [](const Sandbox&) {
                     return std::vector<std::string>{"--keys", "quit", "--checksums", "/dev/full", QUARNEL_MODULE};
                   },
                   1, "cannot write /dev/full: No space left on device", [](const Sandbox&) {}},
        OutputCase{"TraceToAFullDeviceSaysWhy",
                   [](const Sandbox&) {
                     return std::vector<std::string>{"--keys", "next*20 quit", "--trace", "/dev/full", QUARNEL_MODULE};
                   },
                   1, "cannot write /dev/full: No space left on device", [](const Sandbox&) {}},
        OutputCase{"AScreenNameTakenByAFolderIsRefusedBeforeTheRun",
                   [](const Sandbox& s) {
                     writeText(s / "trace.jsonl", "an earlier run's trace");
                     fs::create_directories(s / "shots" / "screen-002.png");
                     return std::vector<std::string>{"--keys", "next*3 quit", "--snapshots", (s / "shots").string(),
                                                     "--trace", (s / "trace.jsonl").string(), QUARNEL_MODULE};
                   },
                   2, "screen-002.png: is a folder",
                   [](const Sandbox& s) {
                     EXPECT_EQ(readText(s / "trace.jsonl"), "an earlier run's trace");
                     EXPECT_EQ(namesIn(s / ""), (std::set<std::string>{"trace.jsonl", "shots"})) << "a temporary file";
                   }},
        OutputCase{"AFailedRunKeepsTheEarlierSet",
                   [](const Sandbox& s) {
                     writeText(s / "trace.jsonl", "an earlier run's trace");
                     writeText(s / "shots" / "screen-001.png", "an earlier screen");
                     return std::vector<std::string>{"--keys", "next*3 quit", "--snapshots", (s / "shots").string(),
                                                     "--trace", (s / "trace.jsonl").string(), "--checksums",
                                                     "/dev/full", QUARNEL_MODULE};
                   },
                   1, "cannot write /dev/full",
                   [](const Sandbox& s) {
                     EXPECT_EQ(readText(s / "trace.jsonl"), "an earlier run's trace");
                     EXPECT_EQ(namesIn(s / "shots"), std::set<std::string>{"screen-001.png"});
                     EXPECT_EQ(namesIn(s / ""), (std::set<std::string>{"trace.jsonl", "shots"})) << "a temporary file";
                   }},
        OutputCase{"ChecksumsOverTheKeyScriptAreRefused",
                   [](const Sandbox& s) {
                     writeText(s / "k.txt", "next quit\n");
                     return std::vector<std::string>{"--keys", "@" + (s / "k.txt").string(), "--checksums",
                                                     (s / "k.txt").string(), QUARNEL_MODULE};
                   },
                   2, "is the key script",
                   [](const Sandbox& s) { EXPECT_EQ(readText(s / "k.txt"), "next quit\n"); }},
        OutputCase{"ScreensAKilledRunStagedAreCleared",
                   [](const Sandbox& s) {
                     writeText(s / ".shots.tapsim-99-abcdef" / "screen-001.png", "a killed run's");
                     return std::vector<std::string>{"--keys", "quit", "--snapshots", (s / "shots").string(),
                                                     QUARNEL_MODULE};
                   },
                   0, "snapshots: 1 PNG in",
                   [](const Sandbox& s) { EXPECT_EQ(namesIn(s / ""), std::set<std::string>{"shots"}); }},
        OutputCase{"ARefusedStartChangesNothing",
                   [](const Sandbox& s) {
                     for (const char* old : {"screen-001.png", "screen-002.png", "screen-003.png"})
                       writeText(s / "shots" / old, "an earlier run's");
                     return std::vector<std::string>{"--keys", "quit", "--snapshots", (s / "shots").string(),
                                                     "--disk", (s / "nonexistent").string(), QUARNEL_MODULE};
                   },
                   2, "is not a folder",
                   [](const Sandbox& s) {
                     EXPECT_EQ(namesIn(s / "shots").size(), 3u);
                     EXPECT_EQ(namesIn(s / ""), std::set<std::string>{"shots"}) << "a temporary file or lock";
                   }},
        OutputCase{"AReplacedFileKeepsItsMode",
                   [](const Sandbox& s) {
                     writeText(s / "sums.txt", "earlier");
                     fs::permissions(s / "sums.txt", fs::perms::owner_read | fs::perms::owner_write);
                     return std::vector<std::string>{"--keys", "quit", "--checksums", (s / "sums.txt").string(),
                                                     QUARNEL_MODULE};
                   },
                   0, "checksums: ",
                   [](const Sandbox& s) {
                     EXPECT_NE(readText(s / "sums.txt"), "earlier");
                     EXPECT_EQ(fs::status(s / "sums.txt").permissions(), fs::perms::owner_read | fs::perms::owner_write);
                   }},
        OutputCase{"AReadOnlyFileIsRefused",
                   [](const Sandbox& s) {
                     writeText(s / "golden.txt", "reviewed");
                     fs::permissions(s / "golden.txt", fs::perms::owner_read | fs::perms::group_read);
                     return std::vector<std::string>{"--keys", "quit", "--checksums", (s / "golden.txt").string(),
                                                     QUARNEL_MODULE};
                   },
                   2, "golden.txt: is read-only",
                   [](const Sandbox& s) { EXPECT_EQ(readText(s / "golden.txt"), "reviewed"); }},
        OutputCase{"ABrokenHardLinkIsSaid",
                   [](const Sandbox& s) {
                     writeText(s / "sums.txt", "earlier");
                     fs::create_hard_link(s / "sums.txt", s / "also.txt");
                     return std::vector<std::string>{"--keys", "quit", "--checksums", (s / "sums.txt").string(),
                                                     QUARNEL_MODULE};
                   },
                   0, "has 1 other name (hard links)",
                   [](const Sandbox& s) { EXPECT_EQ(readText(s / "also.txt"), "earlier"); }},
        OutputCase{"AReplacedSymbolicLinkIsSaid",
                   [](const Sandbox& s) {
                     writeText(s / "golden.txt", "reviewed");
                     fs::create_symlink(s / "golden.txt", s / "sums.txt");
                     return std::vector<std::string>{"--keys", "quit", "--checksums", (s / "sums.txt").string(),
                                                     QUARNEL_MODULE};
                   },
                   0, "is a symbolic link; the new file replaces the link",
                   [](const Sandbox& s) { EXPECT_EQ(readText(s / "golden.txt"), "reviewed"); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tapsim_test

namespace tapsim_test {
namespace {

// Polls for a state a running tapsim reaches; false when it never came.
bool eventually(const std::function<bool()>& reached) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!reached()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool screenStagedIn(const fs::path& folder) {
  return std::ranges::any_of(fs::directory_iterator(folder), [](const fs::directory_entry& entry) {
    return entry.path().filename().string().starts_with(".shots.tapsim-") && entry.is_directory() &&
           !fs::is_empty(entry.path());
  });
}

std::vector<std::string> longRun(const fs::path& shots, const std::vector<std::string>& more = {}) {
  std::vector<std::string> args{TAPSIM, "--headless", "--keys", "next*100000 quit", "--snapshots", shots.string()};
  args.insert(args.end(), more.begin(), more.end());
  args.push_back(QUARNEL_MODULE);
  return args;
}

TEST(OutputSet, AnInterruptedRunLeavesTheEarlierSetAsItWas) {
  Sandbox s;
  writeText(s / "shots" / "screen-001.png", "an earlier screen");
  writeText(s / "sums.txt", "earlier sums");
  Process run(s, longRun(s / "shots", {"--checksums", (s / "sums.txt").string()}));
  ASSERT_TRUE(eventually([&] { return screenStagedIn(s / ""); }));
  kill(run.pid(), SIGINT);
  const Outcome outcome = run.wait();
  EXPECT_EQ(outcome.exitCode, 128 + SIGINT) << outcome.err;
  EXPECT_EQ(namesIn(s / "shots"), std::set<std::string>{"screen-001.png"});
  EXPECT_EQ(readText(s / "sums.txt"), "earlier sums");
  EXPECT_EQ(namesIn(s / ""), (std::set<std::string>{"shots", "sums.txt"})) << "a staged file or a lock";
}

TEST(OutputSet, ASecondRunIntoTheSameOutputsIsRefused) {
  Sandbox first, second;
  Process run(first, longRun(first / "shots"));
  ASSERT_TRUE(eventually([&] { return fs::exists(first / ".shots.tapsim-lock"); }));
  const Outcome refused = runTapsim(second, {"--headless", "--keys", "quit", "--snapshots", (first / "shots").string(),
                                             QUARNEL_MODULE});
  EXPECT_EQ(refused.exitCode, 2) << refused.err;
  EXPECT_TRUE(contains(refused.err, "is being written by another tapsim run (pid " + std::to_string(run.pid())))
      << refused.err;
  kill(run.pid(), SIGINT);
  EXPECT_EQ(run.wait().exitCode, 128 + SIGINT);
  EXPECT_TRUE(namesIn(first / "").empty()) << "nothing of either run";
}

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
