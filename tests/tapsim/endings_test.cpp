// However a module ends, or fails to, the run ends within its limits, says
// in words what happened, writes its outputs, stays within a fixed memory
// bound, and leaves no process and no temporary file behind. That holds for
// modules that attack the host too (modules/hostile.cpp).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "process.h"

namespace tapsim_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Ending {
  std::string name;
  std::string module;
  std::vector<std::string> args;
  int exitCode;
  std::string said;    // on stderr; empty: nothing
  std::vector<std::string> summed = {};  // lines of the summary on stdout
  std::string hostile = {};                // the attack modules/hostile.cpp makes
  bool receiver = false;                   // the receiver build of the module, under qemu
};

// The most memory tapsim may hold, whatever the module does (ASan's own included).
constexpr long kMostHostKiB = 512 << 10;

void PrintTo(const Ending& e, std::ostream* out) { *out << e.name; }

fs::path moduleOf(const Ending& ending) {
  return ending.receiver ? receiverTestModule(ending.module) : testModule(ending.module);
}

class ModuleEnding : public testing::TestWithParam<Ending> {
 protected:
  void SetUp() override {
    if (!GetParam().receiver || fs::exists(moduleOf(GetParam()))) return;
    if (receiverRequired()) FAIL() << "no " << moduleOf(GetParam()) << "; build the receiver preset";
    GTEST_SKIP() << "no " << moduleOf(GetParam())
                 << "; build it with: cmake --preset receiver && cmake --build --preset receiver";
  }
};

TEST_P(ModuleEnding, IsToldInWordsWithItsOwnCodeAndLeavesNothingBehind) {
  Sandbox sandbox;
  const fs::path pidFile = sandbox.root() / "forked-child.pid";
  std::vector<std::string> argv{TAPSIM, "--headless", "--record", (sandbox / "keys.txt").string()};
  argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
  argv.insert(argv.end(), {"--env", "FORKED_PID_FILE=" + pidFile.string(), "--env", "HOSTILE=" + GetParam().hostile,
                           moduleOf(GetParam()).string()});
  Process tapsim(sandbox, argv);
  const auto started = std::chrono::steady_clock::now();
  const Outcome outcome = tapsim.wait(15s);
  ASSERT_FALSE(outcome.timedOut) << outcome.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 6s) << "a one-second watchdog took too long";
  EXPECT_EQ(outcome.exitCode, GetParam().exitCode) << outcome.out << outcome.err;
  if (GetParam().said.empty()) {
    EXPECT_EQ(outcome.err, "");
  } else {
    // One line, and for a hang the calls the module was in.
    const auto lines = outcome.errLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(contains(lines.front(), GetParam().said)) << outcome.err;
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(lines[i].starts_with("tapsim:   called from")) << outcome.err;
  }
  for (const auto& line : GetParam().summed) EXPECT_TRUE(contains(outcome.out, line)) << outcome.out.substr(0, 4000);
  EXPECT_TRUE(fs::exists(sandbox / "keys.txt")) << "no outputs";
  EXPECT_LT(outcome.peakKiB, kMostHostKiB);
  EXPECT_FALSE(outcome.strayProcesses);
  EXPECT_TRUE(sandbox.leftovers().empty());
  if (fs::exists(pidFile)) {
    const pid_t child = static_cast<pid_t>(std::stol(readText(pidFile)));
    EXPECT_NE(kill(child, 0), 0) << "the module's own process " << child << " outlived tapsim";
    kill(child, SIGKILL);
  }
}

const Ending kEndings[] = {
    {"forks_a_process_that_would_leave_the_session_but_is_refused", "forks", {"--keys", "quit"}, 0, "",
     {"problem: the module called fork(): refused, outside its receiver"}},
    {"calls_exit", "exits", {"--keys", "quit"}, 7, "the module called exit(7)",
     {"module result: none, it had not returned", "problem: the module called exit(7)"}},
    {"calls_underscore_exit", "underscore_exits", {"--keys", "quit"}, 7, "the module called _exit(3)"},
    {"blocks_every_signal_and_spins", "blocks_alarm", {"--keys", "quit", "--watchdog", "1"}, 6,
     "stopped calling the platform for 1 s"},
    {"spins_without_calling_the_platform", "spin", {"--keys", "quit", "--watchdog", "1"}, 6,
     "stopped calling the platform"},
    {"spins_calling_the_platform_without_its_turn", "busy_calling", {"--keys", "next", "--watchdog", "1"}, 6,
     "has not given the platform its turn"},
    {"waits_for_keys_that_never_come", "quiet", {"--keys", "next", "--idle-timeout", "0"}, 4, ""},
    {"fills_its_name_record_to_the_last_byte_once_loaded", "renames_itself", {"--keys", "quit"}, 0, "",
     {"module: " + std::string(64, 'N') + ", version V0"}},
    {"truncates_the_shared_memory", "hostile", {"--keys", "quit"}, 0, "", {"console: ftruncate -1"}, "truncate"},
    {"creates_65536_regions", "hostile", {"--keys", "quit"}, 0, "",
     {"regions left: 1024", "problem: 64512 OSD regions refused: the OSD holds at most 1024 regions"}, "regions"},
    {"creates_40_huge_regions", "hostile", {"--keys", "quit"}, 0, "", {"problem: 39 OSD regions refused"},
     "huge_regions"},
    {"forges_requests_and_never_waits", "hostile", {"--keys", "quit"}, 5,
     "it asked for answers it never waited for", {"module result: none"}, "forged_requests"},
    {"forges_the_ring_tail", "hostile", {"--keys", "quit"}, 5, "the ring's tail is out of its bounds",
     {"module result: none"}, "forged_tail"},
    {"syncs_100000_times_then_spins", "hostile", {"--watchdog", "2", "--idle-timeout", "60000"}, 6,
     "stopped calling the platform for 2 s", {"screens synced: 100000"}, "syncs"},
    {"scribbles_over_the_key_ring", "hostile", {"--keys", "quit"}, 5,
     "the module damaged the board's messages to the platform", {"module result: none"}, "key_ring"},
    {"prints_without_end", "hostile", {"--keys", "quit", "--watchdog", "1"}, 6, "has not given the platform its turn",
     {"problem: the console keeps 262144 bytes"}, "prints"},
    {"writes_a_terminal_without_end", "hostile", {"--keys", "quit", "--watchdog", "1", "--pts", "0"}, 6,
     "has not given the platform its turn", {"problem: /dev/pts/0 keeps 262144 bytes"}, "pts"},
    {"reads_20M_of_a_small_file", "hostile", {"--keys", "quit"}, 0, "", {"console: read 2108 of 2108"}, "fread_20M"},
    {"reads_4000M_under_the_largest_memory_limit", "hostile", {"--keys", "quit", "--memory-limit", "4095M"}, 0, "",
     {"console: read 2108 of 2108"}, "fread_4000M"},
    {"opens_20000_files", "hostile", {"--keys", "quit"}, 0, "",
     {"console: opened 64", "problem: 19936 files not opened: at most 64", "problem: 64 files left open"}, "opens"},
    {"passes_null", "hostile", {"--keys", "quit"}, 0, "",
     {"console: exist 0 fopen 0 chdir 0 puts 0 flen 0 fread 0\nsprint -1 print 0"}, "nulls"},
    {"prints_over_60_KiB", "hostile", {"--keys", "quit"}, 0, "",
     {"printed 57344 and 57344", "problem: 2 TAP_Print texts cut to the 57344 characters one print shows"},
     "long_print"},
};

// The attacks again from the receiver build: qemu and its board are as hostile input to the host.
std::vector<Ending> receiverEndings() {
  std::vector<Ending> rows;
  for (Ending row : kEndings) {
    if (row.module != "hostile") continue;
    row.name += "_receiver";
    row.receiver = true;
    rows.push_back(row);
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Modules, ModuleEnding, testing::ValuesIn(kEndings),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(ReceiverModules, ModuleEnding, testing::ValuesIn(receiverEndings()),
                         [](const auto& info) { return info.param.name; });

// A module that hangs is asked where before it is ended: the frame's own
// abort(), which waits for ever, is named with the call that reached it.
TEST(ModuleEnding, AHangIsReportedWhereTheModuleIsStuck) {
  Sandbox sandbox;
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "next", "--watchdog", "1", testModule("gives_up").string()});
  EXPECT_EQ(outcome.exitCode, 6) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "abort (")) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "called from GiveUp (")) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "aborts.cpp:9)")) << outcome.err;
  EXPECT_FALSE(outcome.strayProcesses);
}

// A module far ahead of the host (each screen costs a checksum) leaves a
// backlog of calls; an interrupt still ends the run at once.
TEST(ModuleEnding, AnInterruptEndsTheRunThroughABacklog) {
  Sandbox sandbox;
  Process tapsim(sandbox, {TAPSIM, "--headless", "--checksums", (sandbox / "sums.txt").string(), "--env",
                           "HOSTILE=syncs", testModule("hostile").string()});
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!contains(readText(sandbox.root() / "stdout.txt"), "module: ") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(5ms);
  const auto interrupted = std::chrono::steady_clock::now();
  kill(tapsim.pid(), SIGINT);
  const Outcome outcome = tapsim.wait(15s);
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 3s);
  EXPECT_EQ(outcome.exitCode, 130) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "stopped by Interrupt")) << outcome.err;
  EXPECT_FALSE(outcome.strayProcesses);
}

// Each key waits for nothing but the screen it causes: twenty thousand keys
// neither hang nor get lost.
TEST(LongScript, TwentyThousandKeysAreAllDelivered) {
  Sandbox sandbox;
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "next*20000 quit", QUARNEL_MODULE}, std::chrono::seconds(120));
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(contains(outcome.out, "screens synced: 20001, keys delivered: 20001")) << outcome.out;
}

// A script longer than the key ring: the first key is read before a later one
// takes its slot, so prev then next comes back to the first page.
TEST(LongScript, KeysBeyondTheKeyRingKeepTheirOrder) {
  Sandbox sandbox;
  const fs::path sums = sandbox / "sums.txt";
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "prev next*1100 quit", "--checksums", sums.string(), QUARNEL_MODULE});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  std::istringstream lines(readText(sums));
  std::string screen[3];
  for (auto& line : screen) {
    std::getline(lines, line);
    line = line.substr(line.rfind(' ') + 1);  // the checksum, not the frame's number
  }
  EXPECT_NE(screen[1], screen[0]) << "the first key delivered was not prev";
  EXPECT_EQ(screen[2], screen[0]);
}

bool groupGone(pid_t group) {
  for (int i = 0; i < 200; ++i) {
    if (kill(-group, 0) != 0) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// Killed outright, tapsim cannot tidy up: its board dies with it, and the
// next run removes the disk it left.
TEST(KilledOutright, TheBoardDiesWithItAndTheNextRunRemovesItsDisk) {
  Sandbox sandbox;
  {
    Process tapsim(sandbox, {TAPSIM, "--headless", "--keys", "next", "--idle-timeout", "600000",
                             testModule("quiet").string()});
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!contains(readText(sandbox.root() / "stdout.txt"), "module: ") && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(5ms);
    const pid_t group = tapsim.pid();
    kill(group, SIGKILL);
    tapsim.wait(5s);
    EXPECT_TRUE(groupGone(group)) << "the board outlived a killed tapsim";
  }
  ASSERT_FALSE(sandbox.leftovers().empty()) << "a killed run cannot have removed its disk";
  const Outcome next = runTapsim(sandbox, {"--headless", "--keys", "quit", testModule("quiet").string()});
  EXPECT_EQ(next.exitCode, 0) << next.err;
  EXPECT_TRUE(sandbox.leftovers().empty());
}

// A firmware that leaves a failed lookup's error unread changes nothing the
// module does: the library clears it before it looks up the task table.
TEST(StaleLookupError, LeavesScreensAndSummaryAsInANormalRun) {
  Sandbox sandbox;
  auto runWith = [&](std::vector<std::string> extra, const std::string& sums) {
    std::vector<std::string> args{"--headless", "--keys", "next next quit", "--model", "22120",
                                  "--checksums", (sandbox / sums).string()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(QUARNEL_MODULE);
    return runTapsim(sandbox, args);
  };
  const Outcome normal = runWith({}, "normal.txt");
  const Outcome stale = runWith({"--stale-dlerror"}, "stale.txt");
  EXPECT_EQ(stale.exitCode, 0) << stale.err;
  const auto summary = [](const std::string& out) { return out.substr(0, out.find("checksums:")); };
  EXPECT_EQ(summary(stale.out), summary(normal.out));
  EXPECT_EQ(readText(sandbox / "stale.txt"), readText(sandbox / "normal.txt"));
  EXPECT_TRUE(contains(stale.out, "the key translation hook is in place")) << stale.out;
}

}  // namespace
}  // namespace tapsim_test
