// The fwdat tool as a person uses it: exit codes, what it prints, and that a
// hostile file never crashes it.
#include <gtest/gtest.h>

#include <ostream>
#include <sys/wait.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fwdatfile.h"

#include "tool_run.h"

namespace {

using quarnel::test::ToolRun;
using quarnel::test::slurp;

namespace fs = std::filesystem;

class FwdatTool : public testing::Test {
 protected:
  ToolRun run(const std::string& args) const { return scratch_.run(args); }
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    return scratch_.write(name, bytes);
  }
  std::string path(const std::string& name) const { return scratch_.path(name); }

 private:
  quarnel::test::ToolScratch scratch_{FWDAT_TOOL};
};

int lineCount(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(FwdatTool, CreateWritesAFileTheFormatLibraryAcceptsWithTheModelsInOrder) {
  const ToolRun r = run("create " + path("db.dat") + " --model 22120:1 --model 40000:2");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string bytes = slurp(path("db.dat"));
  const auto contents = fwdat::parse(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  EXPECT_TRUE(contents.accepted());
  EXPECT_EQ(contents.records, (std::vector<fwdat::ModelRecord>{{22120, 1}, {40000, 2}}));
}

TEST_F(FwdatTool, CreateWithDefaultModelsWritesTheDefaultList) {
  ASSERT_EQ(run("create " + path("db.dat") + " --default-models").status, 0);
  const std::string bytes = slurp(path("db.dat"));
  const auto expected = fwdat::build(fwdat::defaultModels());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST_F(FwdatTool, ShowPrintsHeaderAndEveryRecordOfAnAcceptedFile) {
  const std::string file =
      write("db.dat", fwdat::build(std::vector<fwdat::ModelRecord>{{22120, 1}, {12345, 2}}));
  const ToolRun r = run("show " + file);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("0x12345678"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("records      2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0: system id 22120, remote type 1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1: system id 12345, remote type 2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("verdict: accepted"), std::string::npos) << r.out;
  EXPECT_TRUE(r.err.empty()) << r.err;
}

struct Hostile {
  const char* name;
  std::vector<uint8_t> bytes;
  const char* reason;
  friend void PrintTo(const Hostile& c, std::ostream* os) { *os << c.name; }
};

std::vector<uint8_t> oneRecordWithWord(size_t at, uint32_t value) {
  auto bytes = fwdat::build(std::vector<fwdat::ModelRecord>{{22120, 1}});
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  return bytes;
}

class FwdatToolRejects : public FwdatTool, public testing::WithParamInterface<Hostile> {};

TEST_P(FwdatToolRejects, ShowExitsOneWithTheReasonOnOneStderrLine) {
  const ToolRun r = run("show " + write("db.dat", GetParam().bytes));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lineCount(r.err), 1) << r.err;
  EXPECT_NE(r.err.find(GetParam().reason), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("verdict: rejected"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Files, FwdatToolRejects,
    testing::Values(Hostile{"Empty", {}, "empty"},
                    Hostile{"ThreeBytes", {0x78, 0x56, 0x34}, "header"},
                    Hostile{"BigEndianMagic", oneRecordWithWord(0, 0x78563412), "bad magic"},
                    Hostile{"WordAt8", oneRecordWithWord(8, 0xFFFFFFFF), "offset 8"},
                    Hostile{"RecordsPastEnd", oneRecordWithWord(12, 0xFFFFFFFF), "past"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadUse {
  const char* name;
  const char* args;
  int status;
  friend void PrintTo(const BadUse& c, std::ostream* os) { *os << c.name; }
};

class FwdatToolBadUse : public FwdatTool, public testing::WithParamInterface<BadUse> {};

TEST_P(FwdatToolBadUse, ExitsNonZeroWithOneClearLine) {
  const ToolRun r = run(GetParam().args);
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_EQ(lineCount(r.err), 1) << r.err;
  EXPECT_EQ(r.err.rfind("fwdat: ", 0), 0u) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Args, FwdatToolBadUse,
    testing::Values(BadUse{"NoCommand", "", 2}, BadUse{"UnknownCommand", "make x", 2},
                    BadUse{"CreateWithoutFile", "create --model 1:1", 2},
                    BadUse{"ModelOutOfRange", "create x.dat --model 65536:1", 2},
                    BadUse{"ModelWithoutValue", "create x.dat --model", 2},
                    BadUse{"ShowTwoFiles", "show a b", 2},
                    BadUse{"ShowMissingFile", "show /nonexistent/FirmwareTMS.dat", 1},
                    BadUse{"ShowDirectory", "show /", 1},
                    BadUse{"CreateInMissingDirectory", "create /nonexistent/x.dat", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FwdatTool, HelpExitsZeroAndNamesBothCommands) {
  const ToolRun r = run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("fwdat create"), std::string::npos);
  EXPECT_NE(r.out.find("fwdat show"), std::string::npos);
}

}  // namespace
