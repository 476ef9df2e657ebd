// The module's whole life with each of its allocations failing in turn: the
// platform says no at every point the module asks, and the run must still end
// cleanly, hold nothing it should not, say so on the terminal and show the
// failure in what the module learnt.
#include <gtest/gtest.h>

#include <algorithm>
#include <ranges>

#include "process.h"
#include "trace_lines.h"

namespace tapsim_test {
namespace {

// A model whose remote type only the firmware database tells: without the
// database the module keeps the default type.
constexpr const char* kModelKnownFromDatabase = "42561";
constexpr const char* kRemoteTypeFromDatabase = "remote type 2";
constexpr const char* kDefaultRemoteType = "remote type 1";

struct Life {
  Outcome outcome;
  std::vector<TraceCall> allocations;
  std::string checksums;
};

Life live(const Sandbox& sandbox, const std::string& model, std::optional<size_t> failing) {
  const auto trace = sandbox / ("trace-" + model + ".jsonl");
  const auto checksums = sandbox / ("checksums-" + model + ".txt");
  std::vector<std::string> args = {"--headless", "--keys", "next*20 prev quit", "--model", model, "--pts", "0",
                                   "--trace", trace.string(), "--checksums", checksums.string()};
  if (failing) args.insert(args.end(), {"--fail-alloc", std::to_string(*failing)});
  args.emplace_back(QUARNEL_MODULE);
  Life life{runTapsim(sandbox, args), {}, readText(checksums)};
  std::ranges::copy_if(readTrace(trace).calls, std::back_inserter(life.allocations),
                       [](const TraceCall& c) { return c.call == "TAP_MemAlloc"; });
  return life;
}

std::optional<std::string> lineStarting(const Outcome& outcome, std::string_view start) {
  for (const auto& line : outcome.outLines())
    if (line.starts_with(start)) return line;
  return std::nullopt;
}

// "memory: 2 allocations, 1 block still allocated (2108 bytes)" -> 1
int liveBlocks(const Outcome& outcome) {
  const auto line = lineStarting(outcome, "memory: ");
  if (!line) return -1;
  const auto comma = line->find(", ");
  return comma == std::string::npos ? -1 : std::stoi(line->substr(comma + 2));
}

void expectCleanEnd(const Outcome& outcome) {
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_FALSE(outcome.strayProcesses);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_EQ(lineStarting(outcome, "module result: "), "module result: 0") << outcome.out;
}

TEST(AllocationFailure, EveryAllocationOfTheModulesLifeMayFail) {
  Sandbox sandbox;
  const Life reference = live(sandbox, kModelKnownFromDatabase, std::nullopt);
  expectCleanEnd(reference.outcome);
  ASSERT_FALSE(reference.allocations.empty()) << "the module allocates nothing; is the database loaded?";
  ASSERT_TRUE(lineStarting(reference.outcome, "keys: ").value_or("").ends_with(kRemoteTypeFromDatabase)) << reference.outcome.out;
  const int heldByDesign = liveBlocks(reference.outcome);

  for (size_t failing = 1; failing <= reference.allocations.size(); ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing) + " of " + std::to_string(reference.allocations.size()));
    const Life life = live(sandbox, kModelKnownFromDatabase, failing);
    expectCleanEnd(life.outcome);
    ASSERT_GE(life.allocations.size(), failing);
    const TraceCall& refused = life.allocations[failing - 1];
    EXPECT_EQ(refused.result, "null") << "the simulator did not refuse the allocation asked for";

    // No leak: nothing beyond the one database buffer the library keeps for the
    // module's life, and no region, file or channel left behind.
    EXPECT_LE(liveBlocks(life.outcome), heldByDesign) << life.outcome.out;
    for (const auto& problem : problems(life.outcome))
      EXPECT_TRUE(problem.ends_with("memory block never freed")) << problem;

    EXPECT_EQ(lineStarting(life.outcome, "pseudo-terminals: "),
              "pseudo-terminals: /dev/pts/0 got \"TAP_MemAlloc_Chk Warning: TAP_MemAlloc(" + refused.args.at(0) +
                  ") returned NULL pointer @ LoadFirmwareDat\\n\\0\"")
        << life.outcome.out;
    EXPECT_TRUE(lineStarting(life.outcome, "keys: ").value_or("").ends_with(kDefaultRemoteType))
        << "the module learnt a remote type from a database it could not load\n"
        << life.outcome.out;
  }
  EXPECT_TRUE(sandbox.leftovers().empty());
}

// On a model that needs no database for its keys, a failed allocation costs
// nothing the user sees: every page comes out as it does with memory to spare.
TEST(AllocationFailure, PagesAreUntouchedWhenTheDatabaseCannotBeLoaded) {
  Sandbox sandbox;
  const Life reference = live(sandbox, "22010", std::nullopt);
  expectCleanEnd(reference.outcome);
  ASSERT_FALSE(reference.checksums.empty());
  for (size_t failing = 1; failing <= reference.allocations.size(); ++failing) {
    SCOPED_TRACE("allocation " + std::to_string(failing));
    const Life life = live(sandbox, "22010", failing);
    expectCleanEnd(life.outcome);
    EXPECT_EQ(life.checksums, reference.checksums);
  }
}

}  // namespace
}  // namespace tapsim_test
