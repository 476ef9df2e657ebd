// tapcheck as a person uses it: what it prints, and its exit status.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "module_files.h"

#include "tool_run.h"

namespace {

using quarnel::test::ToolRun;

using namespace tapcheck_test;
namespace fs = std::filesystem;

std::size_t lineCount(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class TapcheckTool : public testing::Test {
 protected:
  ToolRun run(const std::string& args) const { return scratch_.run(args); }
  std::string write(const std::string& name, const Bytes& bytes) const {
    return scratch_.write(name, bytes);
  }
  std::string path(const std::string& name) const { return scratch_.path(name); }

  quarnel::test::ToolScratch scratch_{TAPCHECK_TOOL};
};

TEST_F(TapcheckTool, HelpDescribesUsageAndSucceeds) {
  const auto run = this->run("--help");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(contains(run.out, "Usage: tapcheck")) << run.out;
}

TEST_F(TapcheckTool, MissingArgumentIsAUsageErrorOnOneLine) {
  const auto run = this->run("");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(lineCount(run.err), 1u) << run.err;
}

TEST_F(TapcheckTool, UnknownOptionIsAUsageError) {
  const auto run = this->run("--frobnicate x");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(contains(run.err, "unknown option --frobnicate")) << run.err;
}

TEST_F(TapcheckTool, MissingFileIsNamedOnOneLine) {
  const auto run = this->run("/nonexistent/Quarnel.tap");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(lineCount(run.err), 1u) << run.err;
  EXPECT_TRUE(contains(run.err, "/nonexistent/Quarnel.tap")) << run.err;
}

TEST_F(TapcheckTool, PcBuildIsLoadableAndShowsItsMachineAndRecords) {
  const auto run = this->run(QUARNEL_PC_MODULE);
  EXPECT_EQ(run.status, 0) << run.err;
#if defined(__x86_64__)
  EXPECT_TRUE(contains(run.out, "Machine:      x86-64\n")) << run.out;
  EXPECT_TRUE(contains(run.out, "64-bit, little-endian, a shared object")) << run.out;
#endif
  EXPECT_TRUE(contains(run.out, "__tap_program_name__")) << run.out;
  EXPECT_TRUE(contains(run.out, "\"Quarnel V1.2b\"")) << run.out;
  EXPECT_TRUE(contains(run.out, "0x81C4D2A7")) << run.out;
  EXPECT_TRUE(contains(run.out, "Verdict:      loadable on this PC")) << run.out;
}

// A sysroot whose C library is this PC's: enough to judge imports by, without a receiver build.
std::string pcSysroot(const quarnel::test::ToolScratch& scratch) {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&printf), &info) == 0 || info.dli_fname == nullptr) return "/nonexistent";
  const fs::path lib = fs::path(scratch.path("sysroot")) / "lib";
  fs::create_directories(lib);
  for (const char* name : {"libc.so.0", "libdl.so.0"}) fs::create_symlink(info.dli_fname, lib / name);
  return lib.parent_path();
}

TEST_F(TapcheckTool, ReceiverRulesWithoutTheReceiversCLibraryFailOnOneLineSayingWhatToDo) {
  const auto run = this->run(std::string("--receiver --sysroot /nonexistent ") + QUARNEL_PC_MODULE);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(lineCount(run.err), 1u) << run.err;
  EXPECT_TRUE(contains(run.err, "cannot read the receiver's C library")) << run.err;
  EXPECT_TRUE(contains(run.err, "--sysroot")) << run.err;
}

TEST_F(TapcheckTool, PcBuildJudgedForTheReceiverFailsWithItsReasons) {
  const auto run = this->run("--receiver --sysroot " + pcSysroot(scratch_) + " " + QUARNEL_PC_MODULE);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(contains(run.out, "Problems:")) << run.out;
  EXPECT_EQ(lineCount(run.err), 1u) << run.err;
  EXPECT_TRUE(contains(run.err, "is not loadable on the receiver")) << run.err;
}

TEST_F(TapcheckTool, TruncatedFileGivesOneClearLineAndNoReport) {
  Bytes bytes = readFile(QUARNEL_PC_MODULE);
  bytes.resize(bytes.size() / 3);
  const auto run = this->run(write("cut.tap", bytes));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(lineCount(run.err), 1u) << run.err;
  EXPECT_TRUE(contains(run.err, "past the end of the file")) << run.err;
}

TEST_F(TapcheckTool, WrongMachineIsNotLoadableAndSaysWhich) {
  Bytes bytes = readFile(QUARNEL_PC_MODULE);
  put(bytes, 18, EM_AARCH64, 2);
  const auto run = this->run("--pc " + write("arm.tap", bytes));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(contains(run.out, "Machine:      AArch64")) << run.out;
  EXPECT_TRUE(contains(run.err, "the module is for AArch64")) << run.err;
}

}  // namespace
