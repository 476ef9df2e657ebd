// mipsisa as a test script runs it: one line per finding, and an exit status
// that tells clean files, findings and files it cannot judge apart.
#include <gtest/gtest.h>

#include <algorithm>

#include "mips_fixture.h"
#include "tool_run.h"

namespace {

using namespace mipsisa_test;
using quarnel::test::ToolRun;
using tapcheck_test::contains;

constexpr std::uint32_t kMul = 0x70641002;

std::size_t lineCount(const std::string& text) { return static_cast<std::size_t>(std::ranges::count(text, '\n')); }

class MipsisaTool : public testing::Test {
 protected:
  MipsisaTool() {
    clean_ = scratch_.write("clean.so", build({{kMul, kMul}, {{"Multiplies", 0}}}));
    faulty_ = scratch_.write("faulty.so", build({{kWsbh, kMul, kAddS}, {{"Swaps", 0}, {"Adds", 2}}}));
    MipsFixture pc{{kWsbh}};
    pc.machine = EM_X86_64;
    pc_ = scratch_.write("pc.so", build(pc));
    notElf_ = scratch_.write("text.so", std::string("not an ELF file at all"));
  }
  ToolRun run(const std::string& args) const { return scratch_.run(args); }

  quarnel::test::ToolScratch scratch_{MIPSISA_TOOL};
  std::string clean_, faulty_, pc_, notElf_;
};

TEST_F(MipsisaTool, HelpDescribesTheLineAndTheExitStatus) {
  const auto run = this->run("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(contains(run.out, "usage: mipsisa FILE...")) << run.out;
  EXPECT_TRUE(contains(run.out, "Exit status: 0")) << run.out;
}

TEST_F(MipsisaTool, CleanFilesPrintNothingAndSucceed) {
  const auto run = this->run(clean_ + " " + clean_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
}

TEST_F(MipsisaTool, PrintsOneLinePerFindingWithFileFunctionAndAddress) {
  const auto run = this->run(clean_ + " " + faulty_);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, faulty_ + ": wsbh $v0, $v1 in Swaps at 0x10000 (MIPS32 release 2)\n" + faulty_ +
                         ": add.s $f0, $f2, $f4 in Adds at 0x10008 (floating point)\n");
}

struct BadInput {
  const char* name;
  const char* argument;  // an option, or a file in the scratch folder
  const char* says;
};

class MipsisaBadInput : public MipsisaTool, public testing::WithParamInterface<BadInput> {};

const BadInput kBadInputs[] = {
    {"NoFile", "", "no file given"},
    {"UnknownOption", "--fast", "unknown option --fast"},
    {"MissingFile", "absent.so", "absent.so"},
    {"NotElf", "text.so", "not an ELF file"},
    {"OtherMachine", "pc.so", "not a little-endian 32-bit MIPS file (x86-64"},
};

INSTANTIATE_TEST_SUITE_P(Table, MipsisaBadInput, testing::ValuesIn(kBadInputs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(MipsisaBadInput, FailsWithOneLineThatSaysWhy) {
  const std::string argument = GetParam().argument;
  const auto run = this->run(argument.empty() || argument.starts_with("-") ? argument : scratch_.path(argument));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(lineCount(run.err), 1u) << run.err;
  EXPECT_TRUE(contains(run.err, GetParam().says)) << run.err;
}

TEST_F(MipsisaTool, AnUnreadableFileOutweighsFindingsInTheOthers) {
  const auto run = this->run(faulty_ + " " + pc_ + " " + clean_);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(lineCount(run.out), 2u) << run.out;
  EXPECT_EQ(lineCount(run.err), 1u) << run.err;
}

}  // namespace
