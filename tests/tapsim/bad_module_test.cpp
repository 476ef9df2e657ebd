// Module files tapsim must refuse or survive: each gets one clear line on
// stderr and a non-zero exit, and no run leaves its fresh disk behind.
#include <gtest/gtest.h>
#include <elf.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "process.h"

namespace tapsim_test {
namespace {

namespace fs = std::filesystem;

fs::path writeFile(const Sandbox& sandbox, const std::string& name, const std::string& bytes) {
  fs::path file = sandbox / name;
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

// A loadable module with its ELF header saying another machine.
fs::path forMachine(const Sandbox& sandbox, uint16_t machine) {
  std::string bytes = readText(testModule("quiet"));
  bytes[18] = static_cast<char>(machine & 0xFF);
  bytes[19] = static_cast<char>(machine >> 8);
  return writeFile(sandbox, "machine-" + std::to_string(machine) + ".tap", bytes);
}

void expectOneLine(const Outcome& outcome) {
  const auto lines = outcome.errLines();
  ASSERT_EQ(lines.size(), 1u) << outcome.err;
  EXPECT_TRUE(lines[0].starts_with("tapsim: ")) << lines[0];
  EXPECT_TRUE(outcome.err.ends_with("\n")) << outcome.err;
}

struct BadFile {
  std::string name;
  std::function<fs::path(const Sandbox&)> make;
  std::vector<std::string> words;  // what the line must name
  int exitCode = kBadModule;
};

void PrintTo(const BadFile& file, std::ostream* out) { *out << file.name; }

class BadModuleFile : public testing::TestWithParam<BadFile> {};

TEST_P(BadModuleFile, IsRefusedWithOneLineNamingTheFaultAndLeavesNoTempFiles) {
  Sandbox sandbox;
  const fs::path file = GetParam().make(sandbox);
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", file.string()});
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, GetParam().exitCode) << outcome.err;
  expectOneLine(outcome);
  for (const auto& word : GetParam().words) EXPECT_TRUE(contains(outcome.err, word)) << outcome.err;
  EXPECT_EQ(outcome.err.find(file.string()), outcome.err.rfind(file.string())) << "file named twice: " << outcome.err;
  EXPECT_TRUE(sandbox.leftovers().empty());
  EXPECT_FALSE(outcome.strayProcesses);
}

const BadFile kBadFiles[] = {
    {"missing", [](const Sandbox& s) { return s / "absent.tap"; }, {"absent.tap", "no such"}},
    {"empty", [](const Sandbox& s) { return writeFile(s, "empty.tap", ""); }, {"empty.tap", "ELF"}},
    {"text",
     [](const Sandbox& s) { return writeFile(s, "notes.tap", std::string(40, 'x') + "\nnot a module at all\n"); },
     {"notes.tap", "ELF"}},
    {"folder", [](const Sandbox& s) { fs::create_directory(s / "dir.tap"); return s / "dir.tap"; }, {"dir.tap"}},
    {"truncated",
     [](const Sandbox& s) {
       const std::string whole = readText(testModule("quiet"));
       return writeFile(s, "half.tap", whole.substr(0, whole.size() / 2));
     },
     {"half.tap"}},
    {"for_aarch64", [](const Sandbox& s) { return forMachine(s, EM_AARCH64); }, {"AArch64"}},
    {"for_i386", [](const Sandbox& s) { return forMachine(s, EM_386); }, {"Intel 386"}},
    {"without_records", [](const Sandbox&) { return testModule("no_records"); }, {"__tap_Header__", "missing"}},
    {"without_start_up_entry", [](const Sandbox&) { return testModule("no_start"); }, {"__TAP_Init_"}},
    {"foreign_header", [](const Sandbox&) { return testModule("foreign_header"); }, {"__tap_Header__", "TFAPMIPS"}},
    {"start_up_entry_without_main", [](const Sandbox&) { return testModule("no_main"); }, {"main function"}},
    {"needs_unknown_platform_call",
     [](const Sandbox&) { return testModule("needs_missing_call"); },
     {"TAP_Not_A_Platform_Call"}},
};

INSTANTIATE_TEST_SUITE_P(Files, BadModuleFile, testing::ValuesIn(kBadFiles),
                         [](const auto& info) { return info.param.name; });

// The board, started by hand without a host, runs nothing: it has no
// platform to give the module.
TEST(Board, StartedWithoutAHostRunsNoModule) {
  Sandbox sandbox;
  Process board(sandbox, {TAPSIM_BOARD, testModule("quiet").string()});
  const Outcome outcome = board.wait();
  EXPECT_EQ(outcome.exitCode, 2) << outcome.out << outcome.err;
  EXPECT_EQ(outcome.out, "");
}

struct Crash {
  std::string module;
  std::string keys;
};

void PrintTo(const Crash& crash, std::ostream* out) { *out << crash.module; }

class CrashingModule : public testing::TestWithParam<Crash> {};

TEST_P(CrashingModule, IsReportedWithTheFaultAddressAndLeavesNoTempFiles) {
  Sandbox sandbox;
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", GetParam().keys, testModule(GetParam().module).string()});
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, kCrashed) << outcome.err;
  // One line, and one more for each call in the module that led there.
  const auto lines = outcome.errLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(lines[0].starts_with("tapsim: ")) << lines[0];
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(lines[i].starts_with("tapsim:   called from ")) << lines[i];
  EXPECT_TRUE(contains(lines[0], "crashed")) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "address 0x4d0")) << outcome.err;  // kFaultAddress of the test modules
  EXPECT_TRUE(sandbox.leftovers().empty());
  EXPECT_FALSE(outcome.strayProcesses);
}

INSTANTIATE_TEST_SUITE_P(Where, CrashingModule,
                         testing::Values(Crash{"crash_in_main", "quit"}, Crash{"crash_in_handler", "next quit"},
                                         Crash{"crash_in_start", "quit"}),
                         [](const auto& info) { return info.param.module; });

TEST(HungModule, IsGivenUpByTheWatchdogAndLeavesNoTempFiles) {
  Sandbox sandbox;
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", "--watchdog", "1", testModule("spin").string()});
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, kHung) << outcome.err;
  expectOneLine(outcome);
  EXPECT_TRUE(contains(outcome.err, "stopped calling the platform")) << outcome.err;
  EXPECT_TRUE(sandbox.leftovers().empty());
}

// What the crash tests compare against: a sound module leaves nothing either,
// and says nothing on stderr.
TEST(SoundModule, RunsCleanlyAndLeavesNoTempFiles) {
  Sandbox sandbox;
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "next quit", testModule("quiet").string()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  EXPECT_TRUE(contains(outcome.out, "problems: none")) << outcome.out;
  EXPECT_TRUE(sandbox.leftovers().empty());
}

bool waitForText(const fs::path& file, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (contains(readText(file), text)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// The signal goes to tapsim alone (kill, a service manager) or, as a key
// press at a terminal sends it, to tapsim and the receiver together.
struct Interruption {
  int signal;
  bool wholeGroup;
};

void PrintTo(const Interruption& i, std::ostream* out) {
  *out << sigabbrev_np(i.signal) << (i.wholeGroup ? " to the group" : " to tapsim");
}

class InterruptedRun : public testing::TestWithParam<Interruption> {};

TEST_P(InterruptedRun, EndsTheReceiverAndRemovesTheFreshDisk) {
  Sandbox sandbox;
  const fs::path trace = sandbox / "trace.jsonl";
  // No quit key and a long idle limit: only the signal ends this run.
  Process tapsim(sandbox, {TAPSIM, "--headless", "--keys", "next", "--idle-timeout", "600000", "--trace",
                           trace.string(), testModule("quiet").string()});
  ASSERT_TRUE(waitForText(sandbox.root() / "stdout.txt", "module: "));
  kill(GetParam().wholeGroup ? -tapsim.pid() : tapsim.pid(), GetParam().signal);
  const Outcome outcome = tapsim.wait(std::chrono::seconds(10));
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, 128 + GetParam().signal);
  EXPECT_EQ(outcome.errLines().size(), 1u) << outcome.err;
  EXPECT_FALSE(outcome.strayProcesses) << "the receiver outlived tapsim";
  EXPECT_TRUE(sandbox.leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRun,
                         testing::Values(Interruption{SIGINT, false}, Interruption{SIGTERM, false},
                                         Interruption{SIGHUP, false}, Interruption{SIGINT, true},
                                         Interruption{SIGTERM, true}),
                         [](const auto& info) {
                           return std::string(sigabbrev_np(info.param.signal)) +
                                  (info.param.wholeGroup ? "_to_group" : "_to_tapsim");
                         });

}  // namespace
}  // namespace tapsim_test
