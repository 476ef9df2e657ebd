// The summary at the end of a run: what went wrong, said in words.
#include <gtest/gtest.h>

#include <algorithm>

#include "process.h"
#include "trace_lines.h"

namespace tapsim_test {
namespace {

bool has(const std::vector<std::string>& lines, const std::string& line) {
  return std::ranges::find(lines, line) != lines.end();
}

TEST(Summary, ModuleStillWaitingWhenTheKeysRunOutEndsTheRunAsStalled) {
  Sandbox sandbox;
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "next", "--idle-timeout", "200", QUARNEL_MODULE}, std::chrono::seconds(10));
  ASSERT_FALSE(outcome.timedOut) << "the idle limit did not end the run";
  EXPECT_EQ(outcome.exitCode, kStalled) << outcome.err;
  const auto found = problems(outcome);
  EXPECT_TRUE(has(found, "the keys ran out and the module is still waiting for more")) << outcome.out;
  EXPECT_TRUE(has(found, "live TV was not started again (channel still stopped)")) << outcome.out;
  EXPECT_TRUE(has(found, "1 OSD region not deleted")) << outcome.out;
  EXPECT_TRUE(has(outcome.outLines(), "module result: none, it had not returned")) << outcome.out;
  EXPECT_TRUE(sandbox.leftovers().empty());
}

TEST(Summary, CarelessModuleGetsEveryMessNamed) {
  Sandbox sandbox;
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "quit", "--channel", "2,3", testModule("careless").string()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  const auto found = problems(outcome);
  EXPECT_TRUE(has(found, "2 memory blocks never freed")) << outcome.out;
  EXPECT_TRUE(has(found, "1 free of a block the platform never gave out")) << outcome.out;
  EXPECT_TRUE(has(found, "1 OSD region not deleted")) << outcome.out;
  EXPECT_TRUE(has(found, "the channel started at the end (7/8) is not the one showing at start (2/3)"))
      << outcome.out;
  EXPECT_EQ(found.size(), 4u) << outcome.out;
  EXPECT_TRUE(has(outcome.outLines(), "memory: 2 allocations, 2 blocks still allocated (128 bytes)")) << outcome.out;
}

TEST(Summary, TidyModuleHasNoProblems) {
  Sandbox sandbox;
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", testModule("quiet").string()});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(problems(outcome).empty()) << outcome.out;
  EXPECT_TRUE(has(outcome.outLines(), "problems: none")) << outcome.out;
  EXPECT_TRUE(has(outcome.outLines(), "module result: 0")) << outcome.out;
}

// The warning of a failed allocation goes to the first terminal that opens,
// with its line feed and terminating zero byte shown.
struct WarningCase {
  std::string openTerminals;
  int receiving;  // -1: none
};

void PrintTo(const WarningCase& c, std::ostream* out) { *out << "--pts " << c.openTerminals; }

class AllocationWarning : public testing::TestWithParam<WarningCase> {};

TEST_P(AllocationWarning, ReachesOnlyTheFirstTerminalThatOpens) {
  Sandbox sandbox;
  const auto trace = sandbox / "trace.jsonl";
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", "--pts", GetParam().openTerminals,
                                              "--fail-alloc", "1", "--trace", trace.string(), QUARNEL_MODULE});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  const auto calls = readTrace(trace).calls;
  const auto alloc = std::ranges::find(calls, "TAP_MemAlloc", &TraceCall::call);
  ASSERT_NE(alloc, calls.end()) << "the module allocates nothing; is the firmware database loaded?";
  EXPECT_EQ(alloc->result, "null");

  const auto lines = outcome.outLines();
  const auto terminals = std::ranges::find_if(lines, [](const auto& l) { return l.starts_with("pseudo-terminals: "); });
  if (GetParam().receiving < 0) {
    EXPECT_EQ(terminals, lines.end()) << outcome.out;
    return;
  }
  ASSERT_NE(terminals, lines.end()) << outcome.out;
  const std::string expected = "pseudo-terminals: /dev/pts/" + std::to_string(GetParam().receiving) +
                               " got \"TAP_MemAlloc_Chk Warning: TAP_MemAlloc(" + alloc->args.at(0) +
                               ") returned NULL pointer @ LoadFirmwareDat\\n\\0\"";
  EXPECT_EQ(*terminals, expected);
}

INSTANTIATE_TEST_SUITE_P(Terminals, AllocationWarning,
                         testing::Values(WarningCase{"1,2", 1}, WarningCase{"7", 7}, WarningCase{"19,0", 0},
                                         WarningCase{"none", -1}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace tapsim_test
