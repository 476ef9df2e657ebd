// Runs with a window, on a virtual X server of the test's own: the same exit
// codes and the same tidiness as headless runs.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "front/png.h"
#include "process.h"
#include "xkeyboard.h"
#include "xserver.h"

namespace tapsim_test {
namespace {

class WindowRun : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    server = tapsim::XServer::start(error).release();
    if (server == nullptr) reason = error;
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override { ASSERT_NE(server, nullptr) << reason; }

  Outcome run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{TAPSIM};
    argv.insert(argv.end(), args.begin(), args.end());
    Process tapsim(sandbox, argv, {"DISPLAY=" + server->display()});
    return tapsim.wait();
  }

  static tapsim::XServer* server;
  static std::string reason;
  Sandbox sandbox;
};

tapsim::XServer* WindowRun::server = nullptr;
std::string WindowRun::reason;

TEST_F(WindowRun, ScriptedKeysPageAndQuit) {
  const auto shots = sandbox / "shots";
  const Outcome outcome = run({"--keys", "next quit", "--snapshots", shots.string(), QUARNEL_MODULE});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(contains(outcome.out, "screens synced: 2, keys delivered: 2")) << outcome.out;
  EXPECT_TRUE(std::filesystem::exists(shots / "screen-002.png"));
  EXPECT_FALSE(std::filesystem::exists(shots / "screen-003.png"));
  EXPECT_TRUE(sandbox.leftovers().empty());
}

TEST_F(WindowRun, WhatTheWindowShowsMatchesEachSnapshot) {
  const auto shots = sandbox / "shots", captures = sandbox / "captures";
  const Outcome outcome = run({"--keys", "next next prev quit", "--snapshots", shots.string(), "--window-captures",
                               captures.string(), QUARNEL_MODULE});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
  for (const char* number : {"001", "002", "003", "004"}) {
    std::string error;
    const auto snapshot = tapsim::readPng(shots / ("screen-" + std::string(number) + ".png"), error);
    const auto shown = tapsim::readPng(captures / ("window-" + std::string(number) + ".png"), error);
    ASSERT_TRUE(snapshot && shown) << number << ": " << error;
    EXPECT_EQ(shown->width, 720);
    EXPECT_EQ(shown->height, 576);
    EXPECT_TRUE(shown->argb == snapshot->argb) << "screen " << number << " differs in the window";
  }
}

TEST_F(WindowRun, CrashInTheHandlerClosesTheWindowWithTheCrashReportAndNoTempFiles) {
  const Outcome outcome = run({"--keys", "next quit", testModule("crash_in_handler").string()});
  EXPECT_EQ(outcome.exitCode, 5) << outcome.err;
  // The crash, and the main function's call through which the handler got the key.
  ASSERT_EQ(outcome.errLines().size(), 2u) << outcome.err;
  EXPECT_TRUE(contains(outcome.errLines()[0], "crashed")) << outcome.err;
  EXPECT_TRUE(contains(outcome.errLines()[1], "called from TAP_Main")) << outcome.err;
  EXPECT_FALSE(outcome.strayProcesses);
  EXPECT_TRUE(sandbox.leftovers().empty());
}

TEST_F(WindowRun, InterruptEndsTheRunAndRemovesTheFreshDisk) {
  const auto trace = sandbox / "trace.jsonl";
  Process tapsim(sandbox,
                 {TAPSIM, "--keys", "next", "--idle-timeout", "0", "--trace", trace.string(), testModule("quiet").string()},
                 {"DISPLAY=" + server->display()});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  // The trace is written whole at the end; the module's line says the run is on.
  while (!contains(readText(sandbox.root() / "stdout.txt"), "module: ") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(-tapsim.pid(), SIGINT);
  const Outcome outcome = tapsim.wait(std::chrono::seconds(10));
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, 128 + SIGINT) << outcome.err;
  EXPECT_FALSE(outcome.strayProcesses);
  EXPECT_TRUE(sandbox.leftovers().empty());
}

// A person explores in the window; what they pressed, replayed headless, gives
// the same screens.
TEST_F(WindowRun, RecordedKeysReplayHeadlessWithTheSameScreens) {
  const auto record = sandbox / "keys.txt", shown = sandbox / "window.txt", replayed = sandbox / "replay.txt";
  Process tapsim(sandbox, {TAPSIM, "--record", record.string(), "--checksums", shown.string(), QUARNEL_MODULE},
                 {"DISPLAY=" + server->display()});
  std::string error;
  const auto keyboard = tapsim::XKeyboard::open(server->display(), error);
  ASSERT_TRUE(keyboard) << error;
  // The window is shown once it can take keys; they are pressed at once, faster than any person.
  ASSERT_TRUE(keyboard->focusWindow("tapsim", std::chrono::seconds(10))) << "no tapsim window appeared";
  for (const char* key : {"Right", "Down", "Left", "6", "Escape"}) ASSERT_TRUE(keyboard->press(key)) << key;
  const Outcome window = tapsim.wait();
  ASSERT_EQ(window.exitCode, 0) << window.err;
  EXPECT_EQ(readText(record), "next*2 prev 0x10044 quit\n");
  EXPECT_TRUE(contains(window.out, "keys recorded: 5 in " + record.string())) << window.out;

  const Outcome replay = runTapsim(sandbox, {"--headless", "--keys", "@" + record.string(), "--checksums",
                                             replayed.string(), QUARNEL_MODULE});
  ASSERT_EQ(replay.exitCode, 0) << replay.err;
  const std::string screens = readText(shown);
  EXPECT_EQ(std::count(screens.begin(), screens.end(), '\n'), 4) << "the first page and one per paging key";
  EXPECT_EQ(readText(replayed), screens);
}

}  // namespace
}  // namespace tapsim_test
