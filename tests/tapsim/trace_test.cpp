// A headless run with a trace: one page change and the quit, checked against
// the platform calls they must bring, in order.
#include <gtest/gtest.h>

#include <algorithm>

#include "process.h"
#include "trace_lines.h"

namespace tapsim_test {
namespace {

constexpr uint64_t kKeyEvent = 0x100, kQuit = 0x10017;

struct Box {
  uint64_t x, y, width, height, colour;
  friend bool operator==(const Box&, const Box&) = default;
};

std::ostream& operator<<(std::ostream& out, const Box& b) {
  return out << "box " << b.x << "," << b.y << " " << b.width << "x" << b.height << " colour 0x" << std::hex
             << b.colour << std::dec;
}

uint64_t grey(uint64_t v) { return 0xFF000000u | v << 16 | v << 8 | v; }

// Page 2, black and white level steps, in the order the page draws them.
std::vector<Box> pageTwoBoxes() {
  std::vector<Box> boxes = {{0, 0, 720, 288, 0xFF101010},   {0, 288, 720, 288, 0xFFEEEEEE},
                            {80, 0, 4, 288, 0xFFFFFFFF},    {80, 288, 4, 288, 0xFF000000},
                            {640, 0, 4, 288, 0xFFFFFFFF},   {640, 288, 4, 288, 0xFF000000}};
  for (uint64_t i = 0; i <= 4; ++i) {
    boxes.push_back({300, 90 + 21 * i, 120, 21, grey(255 * i / 31)});
    boxes.push_back({300, 378 + 21 * i, 120, 21, grey(255 * (31 - i) / 31)});
  }
  return boxes;
}

// On models whose remote sends other codes the run must look the same.
class TracedRun : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const auto file = sandbox / "trace.jsonl";
    const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "next quit", "--model", GetParam(), "--channel",
                                                "3,9", "--trace", file.string(), QUARNEL_MODULE});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    trace = readTrace(file);
    ASSERT_TRUE(trace.unreadable.empty()) << trace.unreadable.front();
    ASSERT_FALSE(trace.calls.empty());
  }

  using Calls = std::vector<TraceCall>;
  // The script's keys in order: 0 is next, 1 is quit.
  Calls::const_iterator keyEvent(size_t index) const {
    auto at = trace.calls.cbegin();
    for (size_t seen = 0;; ++seen, ++at) {
      at = find(at, "event");
      if (at == trace.calls.end() || seen == index) return at;
    }
  }
  Calls::const_iterator find(Calls::const_iterator from, const std::string& name) const {
    return std::find_if(from, trace.calls.cend(), [&](const TraceCall& c) { return c.call == name; });
  }
  static std::vector<TraceCall> between(Calls::const_iterator from, Calls::const_iterator to, const std::string& name) {
    std::vector<TraceCall> found;
    std::copy_if(from, to, std::back_inserter(found), [&](const TraceCall& c) { return c.call == name; });
    return found;
  }

  Sandbox sandbox;
  Trace trace;
};

TEST_P(TracedRun, NextKeyIsFollowedByPageTwoFillsAndExactlyOneSync) {
  const auto next = keyEvent(0), quit = keyEvent(1);
  ASSERT_NE(next, trace.calls.end());
  ASSERT_NE(quit, trace.calls.end());
  ASSERT_LT(next, quit);
  EXPECT_EQ(next->number(0), kKeyEvent);
  EXPECT_EQ(quit->number(1), kQuit);
  const auto created = find(trace.calls.begin(), "TAP_Osd_Create");
  ASSERT_LT(created, next);
  const uint64_t region = created->resultNumber();

  const auto syncs = between(next, quit, "TAP_Osd_Sync");
  EXPECT_EQ(syncs.size(), 1u) << "one page change, one sync";
  const auto sync = find(next, "TAP_Osd_Sync");
  ASSERT_LT(sync, quit);
  std::vector<Box> boxes;
  for (const TraceCall& fill : between(next, sync, "TAP_Osd_FillBox")) {
    EXPECT_EQ(fill.number(0), region);
    boxes.push_back({fill.number(1), fill.number(2), fill.number(3), fill.number(4), fill.number(5)});
  }
  EXPECT_EQ(boxes, pageTwoBoxes());
  EXPECT_TRUE(between(sync, quit, "TAP_Osd_FillBox").empty()) << "drawing after the sync stays unseen";
}

TEST_P(TracedRun, QuitDeletesTheRegionThenStartsTheSavedChannel) {
  const auto quit = keyEvent(1);
  ASSERT_NE(quit, trace.calls.end());
  const auto saved = find(trace.calls.begin(), "TAP_Channel_GetCurrent");
  ASSERT_LT(saved, quit);
  EXPECT_EQ(saved->args, (std::vector<std::string>{"3", "9"}));
  const uint64_t region = find(trace.calls.begin(), "TAP_Osd_Create")->resultNumber();

  const auto deleted = find(quit, "TAP_Osd_Delete");
  const auto started = find(quit, "TAP_Channel_Start");
  ASSERT_NE(deleted, trace.calls.end());
  ASSERT_NE(started, trace.calls.end());
  EXPECT_LT(deleted, started);
  EXPECT_EQ(deleted->number(0), region);
  EXPECT_EQ(started->args, (std::vector<std::string>{"1", "3", "9"}));
  EXPECT_EQ(started + 1, trace.calls.end()) << "nothing after the channel is started again";
  const auto end = trace.calls.cend();
  EXPECT_TRUE(between(quit, end, "TAP_Osd_FillBox").empty());
  EXPECT_TRUE(between(quit, end, "TAP_Osd_Sync").empty());
  EXPECT_EQ(between(trace.calls.begin(), end, "TAP_Channel_Start").size(), 1u);
  EXPECT_EQ(between(trace.calls.begin(), end, "TAP_Osd_Delete").size(), 1u);
}

TEST_P(TracedRun, HandlerResultsSayPassOnForNextAndConsumedForQuit) {
  const auto results = between(trace.calls.begin(), trace.calls.end(), "event_result");
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].number(1), keyEvent(0)->number(1));
  EXPECT_NE(results[0].resultNumber(), 0u);
  EXPECT_EQ(results[1].number(1), kQuit);
  EXPECT_EQ(results[1].resultNumber(), 0u);
}

// 22010: plain remote; 22120: a listed model; 42561: remote type 2 in the database.
INSTANTIATE_TEST_SUITE_P(Models, TracedRun, testing::Values("22010", "22120", "42561"),
                         [](const auto& info) { return std::string("model_") + info.param; });

TEST(TraceLine, ReadsEscapesNumbersAndMissingResults) {
  const auto call = parseTraceLine(R"({"call":"TAP_SPrint","args":["0x7f","%i\u0025\"\\",12,null,-3],"result":2})");
  ASSERT_TRUE(call);
  EXPECT_EQ(call->call, "TAP_SPrint");
  EXPECT_EQ(call->args, (std::vector<std::string>{"0x7f", "%i%\"\\", "12", "null", "-3"}));
  EXPECT_EQ(call->resultNumber(), 2u);
  const auto noResult = parseTraceLine(R"({"call":"TAP_SystemProc","args":[]})");
  ASSERT_TRUE(noResult);
  EXPECT_TRUE(noResult->args.empty());
  EXPECT_FALSE(noResult->result);
  EXPECT_FALSE(parseTraceLine(R"({"call":"TAP_Osd_Sync","args":[})"));
  EXPECT_FALSE(parseTraceLine(R"({"call":"TAP_Osd_Sync","args":[]} trailing)"));
}

}  // namespace
}  // namespace tapsim_test
