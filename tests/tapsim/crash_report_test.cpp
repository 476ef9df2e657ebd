// A crash report names the function and source line of the fault and of each
// call above it in the module, for a bad pointer, abort() and a stack
// overflow alike. The test modules mark each line a report names with a
// "frame N" comment, innermost 0.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

#include "process.h"

namespace tapsim_test {
namespace {

namespace fs = std::filesystem;

struct Frame {
  Frame(const char* function, const char* source = "", bool repeated = false)
      : function(function), source(source), repeated(repeated) {}
  std::string function;
  std::string source;  // the case's own when empty
  bool repeated;       // a recursion's calls from one place, counted on one line
};

struct CrashCase {
  std::string module, keys, source;
  std::string fault;  // a pattern: what the first line says before the innermost function
  std::vector<Frame> frames;
};

void PrintTo(const CrashCase& crash, std::ostream* out) { *out << crash.module; }

std::set<int> markedLines(const fs::path& source, size_t frame) {
  std::ifstream in(source);
  std::set<int> lines;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number)
    if (contains(text, "frame " + std::to_string(frame)) && contains(text, "//")) lines.insert(number);
  return lines;
}

class CrashReport : public testing::TestWithParam<CrashCase> {};

TEST_P(CrashReport, NamesFunctionAndLineOfTheFaultAndOfEachCallAboveIt) {
  const CrashCase& crash = GetParam();
  Sandbox sandbox;
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", crash.keys, testModule(crash.module).string()});
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, kCrashed) << outcome.err;
  const auto lines = outcome.errLines();
  ASSERT_EQ(lines.size(), crash.frames.size()) << outcome.err;
  for (size_t i = 0; i < lines.size(); ++i) {
    const Frame& frame = crash.frames[i];
    const std::string source = frame.source.empty() ? crash.source : frame.source;
    const std::string lead = i == 0 ? "tapsim: the module crashed: " + crash.fault + " " : "tapsim:   called from ";
    const std::regex shape("^" + lead + frame.function + R"( \(.*/)" + source + R"(:([0-9]+)\))" +
                           (frame.repeated ? ", (at least )?[0-9]+ times$" : "$"));
    std::smatch found;
    ASSERT_TRUE(std::regex_search(lines[i], found, shape)) << lines[i];
    EXPECT_TRUE(markedLines(fs::path(TEST_MODULES_SOURCE) / source, i).contains(std::stoi(found[1]))) << "frame " << i << ": " << lines[i];
  }
  EXPECT_TRUE(sandbox.leftovers().empty());
  EXPECT_FALSE(outcome.strayProcesses);
}

const std::string kBadPointer = R"(SIGSEGV \(Segmentation fault\) at address 0x4d0, in)";

const CrashCase kCrashes[] = {
    {"crash_in_main", "quit", "crash_in_main.cpp", kBadPointer, {{"TAP_Main"}}},
    {"crash_in_handler", "next quit", "crash_in_handler.cpp", kBadPointer, {{"TAP_EventHandler"}, {"TAP_Main", "main_until_quit.cpp"}}},
    {"crash_in_start", "quit", "crash_in_start.cpp", kBadPointer, {{"__TAP_Init_"}}},
    {"crash_in_callee", "quit", "crash_in_callee.cpp", kBadPointer, {{"Inner"}, {"Outer"}, {"TAP_Main"}}},
    {"crash_in_library", "quit", "crash_in_library.cpp",
     R"(SIGSEGV \(Segmentation fault\) at address 0x4d0, outside the module, called from)", {{"TAP_Main"}}},
    {"aborts", "quit", "aborts.cpp", R"(SIGABRT \(Aborted\): it called abort\(\) in)", {{"GiveUp"}, {"TAP_Main"}}},
    {"overflows", "quit", "overflows.cpp", R"(SIGSEGV \(Segmentation fault\) at address 0x[0-9a-f]+, a stack overflow, in)",
     {{"Descend"}, {"Descend", "", true}}},
    // Near the stack pointer, yet not at the stack's guard: no overflow.
    {"wild_stack", "quit", "wild_stack.cpp", kBadPointer, {{"TAP_Main"}}},
};

INSTANTIATE_TEST_SUITE_P(Modules, CrashReport, testing::ValuesIn(kCrashes),
                         [](const auto& info) { return info.param.module; });

}  // namespace
}  // namespace tapsim_test
