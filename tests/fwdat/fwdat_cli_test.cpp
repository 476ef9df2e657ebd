// The fwdat tool as a person uses it: exit codes, what it prints, and that a
// hostile file never crashes it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
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
 public:
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

TEST_F(FwdatTool, ShowOfAPipeIsRefusedAtOnce) {
  ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
  const ToolRun r = run("show " + path("pipe"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("pipe: is not a regular file"), std::string::npos) << r.err;
}

// fwdat with one resource limited, as a nearly full file system (file size)
// or a small machine (address space) would limit it. Sanitizers reserve
// terabytes of address space, so under them only the resident size is bounded.
struct LimitedRun {
  ToolRun run;
  long residentKiB = 0;
};

LimitedRun runLimited(const std::vector<std::string>& args, int resource, rlim_t limit, const std::string& out,
                      const std::string& err) {
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    const rlimit bound{limit, limit};
    setrlimit(resource, &bound);
    std::vector<char*> argv{const_cast<char*>(FWDAT_TOOL)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(FWDAT_TOOL, argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  LimitedRun result;
  result.run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.run.out = slurp(out);
  result.run.err = slurp(err);
  result.residentKiB = usage.ru_maxrss;
  return result;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr rlim_t kAddressSpace = RLIM_INFINITY;
#else
constexpr rlim_t kAddressSpace = rlim_t{256} << 20;
#endif
constexpr long kMostResidentKiB = 64 * 1024;

std::vector<uint8_t> header(uint32_t count) {
  auto bytes = fwdat::build({});
  for (size_t i = 0; i < 4; ++i) bytes[12 + i] = static_cast<uint8_t>(count >> (8 * i));
  return bytes;
}

struct BigFile {
  const char* name;
  uint64_t size;  // sparse behind the header
  uint32_t count;
  int status;
  std::string said;
  friend void PrintTo(const BigFile& c, std::ostream* os) { *os << c.name; }
};

class FwdatToolShows : public FwdatTool, public testing::WithParamInterface<BigFile> {};

TEST_P(FwdatToolShows, AnyFileQuicklyInLittleMemoryWithTheModulesVerdict) {
  const std::string file = write("big.dat", header(GetParam().count));
  fs::resize_file(file, GetParam().size);
  const LimitedRun r = runLimited({"show", file}, RLIMIT_AS, kAddressSpace, path("out"), path("err"));
  EXPECT_EQ(r.run.status, GetParam().status) << r.run.err;
  EXPECT_NE(r.run.out.find(GetParam().said), std::string::npos) << r.run.out.substr(0, 2000);
  EXPECT_LT(r.residentKiB, kMostResidentKiB);
  if (GetParam().status != 0) {
    EXPECT_NE(r.run.err.find("cannot load it"), std::string::npos) << r.run.err;
  }
}

constexpr uint64_t kLimit = fwdat::kLargestLoadable;

INSTANTIATE_TEST_SUITE_P(
    Sizes, FwdatToolShows,
    testing::Values(BigFile{"SparseFiveGigabytes", uint64_t{5} << 30, 1, 1, "verdict: rejected"},
                    BigFile{"OneByteMoreThanAReceiverGives", kLimit + 1, 1, 1, "verdict: rejected"},
                    BigFile{"AllAReceiverGives", kLimit, 1, 0, "verdict: accepted"},
                    BigFile{"FifteenMillionRecords", uint64_t{5} << 30, 15'000'000, 1,
                            std::to_string(15'000'000 - fwdat::kMostRecordsShown) + " more records not shown"}),
    [](const auto& info) { return std::string(info.param.name); });

// What fwdat create finds at OUT, and what it must leave there.
struct CreateCase {
  const char* name;
  std::function<std::string(const FwdatTool&)> prepare;  // gives OUT
  std::vector<std::string> options;
  int status;
  std::string said;
  std::function<void(const FwdatTool&, const std::string&)> leaves;
  rlim_t fileSize = RLIM_INFINITY;
  friend void PrintTo(const CreateCase& c, std::ostream* os) { *os << c.name; }
};

const auto kEarlier = fwdat::build(std::vector<fwdat::ModelRecord>{{1, 1}});
const auto kNew = fwdat::build(std::vector<fwdat::ModelRecord>{{22120, 2}});
const std::string kEarlierText(kEarlier.begin(), kEarlier.end());
const std::string kNewText(kNew.begin(), kNew.end());

class FwdatToolCreate : public FwdatTool, public testing::WithParamInterface<CreateCase> {};

void holds(const std::string& file, const std::string& bytes) { EXPECT_EQ(slurp(file), bytes) << file; }

TEST_P(FwdatToolCreate, ReplacesOnlyWhenToldAndOnlyWhole) {
  const std::string out = GetParam().prepare(*this);
  std::vector<std::string> args{"create", out, "--model", "22120:2"};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  const LimitedRun r = runLimited(args, RLIMIT_FSIZE, GetParam().fileSize, path("out"), path("err"));
  EXPECT_EQ(r.run.status, GetParam().status) << r.run.err;
  EXPECT_NE(r.run.err.find(GetParam().said), std::string::npos) << r.run.err;
  if (r.run.status != 0) {
    EXPECT_EQ(lineCount(r.run.err), 1) << r.run.err;
  }
  GetParam().leaves(*this, out);
  for (const auto& entry : fs::directory_iterator(path("")))
    EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "left " << entry.path();
}

INSTANTIATE_TEST_SUITE_P(
    Targets, FwdatToolCreate,
    testing::Values(
        CreateCase{"ExistingFileStaysWithoutForce", [](const FwdatTool& t) { return t.write("db.dat", kEarlier); },
                   {}, 1, "--force", [](const FwdatTool&, const std::string& out) { holds(out, kEarlierText); }},
        CreateCase{"ExistingFileIsReplacedWithForce", [](const FwdatTool& t) { return t.write("db.dat", kEarlier); },
                   {"--force"}, 0, "", [](const FwdatTool&, const std::string& out) { holds(out, kNewText); }},
        CreateCase{"LinkIsReplacedNotWrittenThrough",
                   [](const FwdatTool& t) {
                     fs::create_symlink(t.write("target.dat", kEarlier), t.path("link.dat"));
                     return t.path("link.dat");
                   },
                   {"--force"}, 0, "",
                   [](const FwdatTool& t, const std::string& out) {
                     EXPECT_FALSE(fs::is_symlink(out));
                     holds(out, kNewText);
                     holds(t.path("target.dat"), kEarlierText);
                   }},
        CreateCase{"LinkStaysWithoutForce",
                   [](const FwdatTool& t) {
                     fs::create_symlink(t.write("target.dat", kEarlier), t.path("link.dat"));
                     return t.path("link.dat");
                   },
                   {}, 1, "--force",
                   [](const FwdatTool& t, const std::string& out) {
                     EXPECT_TRUE(fs::is_symlink(out));
                     holds(t.path("target.dat"), kEarlierText);
                   }},
        CreateCase{"FolderIsRefusedWithTheReason",
                   [](const FwdatTool& t) {
                     fs::create_directory(t.path("folder"));
                     return t.path("folder");
                   },
                   {"--force"}, 1, "is a folder",
                   [](const FwdatTool&, const std::string& out) { EXPECT_TRUE(fs::is_empty(out)); }},
        CreateCase{"MissingFolderGivesTheOsReason", [](const FwdatTool& t) { return t.path("gone/db.dat"); }, {}, 1,
                   std::strerror(ENOENT), [](const FwdatTool&, const std::string&) {}},
        CreateCase{"FullDeviceGivesTheOsReason", [](const FwdatTool&) { return std::string("/dev/full"); }, {}, 1,
                   std::strerror(ENOSPC), [](const FwdatTool&, const std::string&) {}},
        CreateCase{"NearlyFullFileSystemKeepsTheEarlierFile",
                   [](const FwdatTool& t) { return t.write("db.dat", kEarlier); }, {"--force", "--default-models"}, 1,
                   std::strerror(EFBIG), [](const FwdatTool&, const std::string& out) { holds(out, kEarlierText); },
                   1000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FwdatTool, HelpExitsZeroAndNamesBothCommands) {
  const ToolRun r = run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("fwdat create"), std::string::npos);
  EXPECT_NE(r.out.find("fwdat show"), std::string::npos);
  EXPECT_NE(r.out.find("--force"), std::string::npos);
}

}  // namespace
