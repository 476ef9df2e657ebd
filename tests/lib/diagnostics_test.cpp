// The allocation warning and its way to the first pseudo-terminal that opens.
// Built with the virtual terminals, so nothing reaches a real one.
#include "lib_fixture.h"
#include "firmware/pts.h"

namespace quarnel::test {
namespace {

namespace pts = tapsim::pts;
using ::testing::ElementsAre;

std::string warningFor(const std::string& size, const std::string& caller) {
  return "TAP_MemAlloc_Chk Warning: TAP_MemAlloc(" + size + ") returned NULL pointer @ " + caller +
         std::string("\n\0", 2);
}

pts::Terminals only(std::initializer_list<int> numbers) {
  pts::Terminals terminals;
  for (int n : numbers) terminals.set(n);
  return terminals;
}

class DiagnosticsTest : public LibraryTest {
 protected:
  DiagnosticsTest() { pts::reset(); }
  ~DiagnosticsTest() override { pts::reset(); }

  void* allocCheck(const char* caller, int32_t size) {
    return fn<void*(const char*, int32_t)>("TAP_MemAlloc_Chk")(caller, size);
  }
  std::vector<std::string> deviceNames() const {
    std::vector<std::string> names;
    for (const auto& line : platform.callsTo("TAP_SPrint"))
      if (line.starts_with("TAP_SPrint(\"/dev/pts/%d\")")) names.push_back(line.substr(line.find(" -> ") + 4));
    return names;
  }
  static std::string allWritten() {
    std::string text;
    for (int n = 0; n < pts::kTerminalCount; ++n) text += pts::written(n);
    return text;
  }
};

struct WarningCase {
  const char* caller;
  int32_t size;
  std::string expected;
};

class WarningTextTest : public DiagnosticsTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(WarningTextTest, FailedAllocationWritesTheWarningWithSizeAndCaller) {
  pts::setOpenable(only({0}));
  platform.failEveryAllocation(true);
  EXPECT_EQ(allocCheck(GetParam().caller, GetParam().size), nullptr);
  EXPECT_EQ(pts::written(0), GetParam().expected) << pts::visible(pts::written(0));
  EXPECT_EQ(pts::openDescriptors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WarningTextTest,
    ::testing::Values(WarningCase{"LoadFirmwareDat", 348, warningFor("348", "LoadFirmwareDat")},
                      WarningCase{"LoadFirmwareDat", 1048576, warningFor("1048576", "LoadFirmwareDat")},
                      WarningCase{"x", -5, warningFor("-5", "x")},
                      WarningCase{"", 0, warningFor("0", "")},
                      WarningCase{nullptr, 7, warningFor("7", "")}),
    [](const auto& info) {
      const char* caller = info.param.caller;
      return std::string(caller == nullptr ? "NullCaller" : *caller ? caller : "EmptyCaller") + "Size" +
             (info.param.size < 0 ? "Minus" + std::to_string(-info.param.size) : std::to_string(info.param.size));
    });

TEST_F(DiagnosticsTest, SuccessfulAllocationWritesNothing) {
  pts::setOpenable(only({0}));
  void* block = allocCheck("LoadFirmwareDat", 64);
  EXPECT_NE(block, nullptr);
  EXPECT_EQ(platform.describe(block), "#1");
  EXPECT_THAT(platform.calls(), ElementsAre("TAP_MemAlloc(64)"));
  EXPECT_EQ(allWritten(), "");
}

TEST_F(DiagnosticsTest, OnlyTheLowestNumberedOpenableTerminalReceivesTheWarning) {
  pts::setOpenable(only({3, 7, 19}));
  platform.failEveryAllocation(true);
  allocCheck("LoadFirmwareDat", 348);
  EXPECT_EQ(pts::written(3), warningFor("348", "LoadFirmwareDat"));
  EXPECT_EQ(pts::written(7), "");
  EXPECT_EQ(pts::written(19), "");
  EXPECT_EQ(pts::opens(3), 1);
  EXPECT_EQ(pts::opens(7), 0);
  EXPECT_THAT(deviceNames(), ElementsAre("\"/dev/pts/0\"", "\"/dev/pts/1\"", "\"/dev/pts/2\"", "\"/dev/pts/3\""));
  EXPECT_EQ(pts::openDescriptors(), 0u);
}

TEST_F(DiagnosticsTest, NoOpenableTerminalWritesNothingAndStillReturnsNull) {
  platform.failEveryAllocation(true);
  EXPECT_EQ(allocCheck("LoadFirmwareDat", 348), nullptr);
  EXPECT_EQ(allWritten(), "");
  EXPECT_EQ(deviceNames().size(), 20u);
  EXPECT_EQ(deviceNames().back(), "\"/dev/pts/19\"");
  EXPECT_EQ(pts::openDescriptors(), 0u);
}

TEST_F(DiagnosticsTest, WarningIsFormattedIntoPufferBeforeItIsSent) {
  pts::setOpenable(only({0}));
  platform.failEveryAllocation(true);
  allocCheck("LoadFirmwareDat", 348);
  const std::string expected = warningFor("348", "LoadFirmwareDat");
  EXPECT_STREQ(module.variable<char[512]>("puffer"), expected.c_str());
  EXPECT_THAT(platform.calls()[0], "TAP_MemAlloc(348)");
}

// puffer is 512 bytes; the longest name that fits leaves room for the widest size.
TEST_F(DiagnosticsTest, OverlongCallerNameIsCutSoTheWarningStillEndsInALineFeed) {
  pts::setOpenable(only({0}));
  platform.failEveryAllocation(true);
  const std::string caller(2000, 'N');
  allocCheck(caller.c_str(), INT32_MIN);
  const std::string text = pts::written(0);
  ASSERT_LE(text.size(), 512u);
  EXPECT_EQ(text.size(), 512u) << "the cut should use the whole buffer for the widest size";
  EXPECT_TRUE(text.starts_with("TAP_MemAlloc_Chk Warning: TAP_MemAlloc(-2147483648) returned NULL pointer @ NNN"));
  EXPECT_TRUE(text.ends_with(std::string("N\n\0", 3)));
}

TEST_F(DiagnosticsTest, NameThatJustFitsIsKeptWhole) {
  pts::setOpenable(only({0}));
  platform.failEveryAllocation(true);
  const std::string fixed = warningFor("-2147483648", "");
  const std::string caller(512 - fixed.size(), 'k');
  allocCheck(caller.c_str(), INT32_MIN);
  EXPECT_EQ(pts::written(0), warningFor("-2147483648", caller));
}

struct PrintCase {
  const char* text;
  int terminal;
};

class PrintNetTest : public DiagnosticsTest, public ::testing::WithParamInterface<PrintCase> {};

TEST_P(PrintNetTest, TextGoesOutWithItsTerminatingZero) {
  pts::setOpenable(only({GetParam().terminal}));
  fn<void(const char*)>("PrintNet")(GetParam().text);
  EXPECT_EQ(pts::written(GetParam().terminal), std::string(GetParam().text) + '\0');
  EXPECT_EQ(deviceNames().size(), static_cast<size_t>(GetParam().terminal) + 1);
}

INSTANTIATE_TEST_SUITE_P(Texts, PrintNetTest,
                         ::testing::Values(PrintCase{"hello\n", 0}, PrintCase{"", 5}, PrintCase{"last one", 19}),
                         [](const auto& info) { return "Terminal" + std::to_string(info.param.terminal); });

}  // namespace
}  // namespace quarnel::test
