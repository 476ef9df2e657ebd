// Runs with a window, on a virtual X server of the test's own: the same exit
// codes and the same tidiness as headless runs.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "front/png.h"
#include "process.h"
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

TEST_F(WindowRun, CrashInTheHandlerClosesTheWindowWithOneLineAndNoTempFiles) {
  const Outcome outcome = run({"--keys", "next quit", testModule("crash_in_handler").string()});
  EXPECT_EQ(outcome.exitCode, 5) << outcome.err;
  ASSERT_EQ(outcome.errLines().size(), 1u) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "crashed")) << outcome.err;
  EXPECT_FALSE(outcome.strayProcesses);
  EXPECT_TRUE(sandbox.leftovers().empty());
}

TEST_F(WindowRun, InterruptEndsTheRunAndRemovesTheFreshDisk) {
  const auto trace = sandbox / "trace.jsonl";
  Process tapsim(sandbox,
                 {TAPSIM, "--keys", "next", "--idle-timeout", "0", "--trace", trace.string(), testModule("quiet").string()},
                 {"DISPLAY=" + server->display()});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!contains(readText(trace), "\"event\"") && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(-tapsim.pid(), SIGINT);
  const Outcome outcome = tapsim.wait(std::chrono::seconds(10));
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, 128 + SIGINT) << outcome.err;
  EXPECT_FALSE(outcome.strayProcesses);
  EXPECT_TRUE(sandbox.leftovers().empty());
}

}  // namespace
}  // namespace tapsim_test
