// A file written whole or not at all: what stands at the target's name before,
// during and after a write, and after one that failed.
#include "front/atomicfile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "temp_dir.h"

namespace tapsim {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const fs::path& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// Writes `text` to target and commits; the failure line, or "" when it worked.
std::string writeWhole(const fs::path& target, const std::string& text) {
  std::string error;
  auto file = AtomicFile::create(target, error);
  if (file) {
    file->write(text);
    file->commit(error);
  }
  return error;
}

// Runs `work` in a child process whose files may grow to `limit` bytes at
// most; returns the line it produced. A write past the limit then fails with
// EFBIG, as on a file system that is nearly full.
std::string withFileSizeLimit(rlim_t limit, const std::function<std::string()>& work) {
  int channel[2];
  if (pipe(channel) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{limit, limit};
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string line = work();
    if (::write(channel[1], line.data(), line.size()) < 0) _exit(2);
    _exit(0);
  }
  close(channel[1]);
  std::string line;
  char chunk[256];
  for (ssize_t got; (got = read(channel[0], chunk, sizeof chunk)) > 0;) line.append(chunk, static_cast<size_t>(got));
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return line;
}

TEST(AtomicFile, TargetAppearsOnlyOnCommitWithEveryByteOfManySmallWrites) {
  TempDir dir;
  std::string error;
  auto file = AtomicFile::create(dir / "out.txt", error);
  ASSERT_TRUE(file) << error;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {  // well past one buffer
    const std::string line = "line " + std::to_string(i) + "\n";
    ASSERT_TRUE(file->write(line));
    expected += line;
  }
  EXPECT_FALSE(fs::exists(dir / "out.txt")) << "visible before it was whole";
  ASSERT_TRUE(file->commit(error)) << error;
  EXPECT_EQ(readAll(dir / "out.txt"), expected);
  EXPECT_EQ(namesIn(dir / ""), std::set<std::string>{"out.txt"}) << "a temporary file was left";
}

TEST(AtomicFile, NotCommittedLeavesTheEarlierFileAndNoTemporaryFile) {
  TempDir dir;
  writeAll(dir / "out.txt", "earlier");
  {
    std::string error;
    auto file = AtomicFile::create(dir / "out.txt", error);
    ASSERT_TRUE(file) << error;
    file->write("half of a new one");
  }
  EXPECT_EQ(readAll(dir / "out.txt"), "earlier");
  EXPECT_EQ(namesIn(dir / ""), std::set<std::string>{"out.txt"});
}

TEST(AtomicFile, AFailedWriteSaysWhyAndKeepsTheEarlierFile) {
  TempDir dir;
  writeAll(dir / "out.txt", "earlier");
  const std::string error =
      withFileSizeLimit(4096, [&] { return writeWhole(dir / "out.txt", std::string(100'000, 'x')); });
  EXPECT_EQ(error, "cannot write " + (dir / "out.txt").string() + ": " + std::strerror(EFBIG));
  EXPECT_EQ(readAll(dir / "out.txt"), "earlier");
  EXPECT_EQ(namesIn(dir / ""), std::set<std::string>{"out.txt"}) << "the failed temporary file was left";
}

TEST(AtomicFile, ASymbolicLinkIsReplacedNeverWrittenThrough) {
  TempDir dir;
  writeAll(dir / "elsewhere.txt", "not ours");
  fs::create_symlink(dir / "elsewhere.txt", dir / "link.txt");
  ASSERT_EQ(writeWhole(dir / "link.txt", "new"), "");
  EXPECT_EQ(readAll(dir / "elsewhere.txt"), "not ours");
  EXPECT_FALSE(fs::is_symlink(dir / "link.txt"));
  EXPECT_EQ(readAll(dir / "link.txt"), "new");
}

TEST(AtomicFile, RefusingToReplaceHoldsEvenWhenTheNameIsTakenDuringTheWrite) {
  TempDir dir;
  std::string error;
  auto file = AtomicFile::create(dir / "out.txt", error, Existing::Refuse);
  ASSERT_TRUE(file) << error;
  file->write("ours");
  writeAll(dir / "out.txt", "someone else's");
  EXPECT_FALSE(file->commit(error));
  EXPECT_NE(error.find(std::strerror(EEXIST)), std::string::npos) << error;
  EXPECT_EQ(readAll(dir / "out.txt"), "someone else's");
  EXPECT_EQ(namesIn(dir / ""), std::set<std::string>{"out.txt"});
}

TEST(AtomicFile, TwoWritersOfOneTargetEachWriteWholeAndTheLastWins) {
  TempDir dir;
  std::string error;
  auto first = AtomicFile::create(dir / "out.txt", error);
  auto second = AtomicFile::create(dir / "out.txt", error);
  ASSERT_TRUE(first && second) << error;
  first->write("first");
  second->write("second");
  ASSERT_TRUE(first->commit(error) && second->commit(error)) << error;
  EXPECT_EQ(readAll(dir / "out.txt"), "second");
  EXPECT_EQ(namesIn(dir / ""), std::set<std::string>{"out.txt"});
}

struct Refusal {
  const char* name;
  std::function<fs::path(const TempDir&)> target;
  Existing existing;
  std::string reason;
  friend void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }
};

class AtomicFileRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(AtomicFileRefuses, AtCreationWithTheReasonAndNothingWritten) {
  TempDir dir;
  const fs::path target = GetParam().target(dir);
  const auto before = namesIn(dir / "");
  std::string error;
  EXPECT_FALSE(AtomicFile::create(target, error, GetParam().existing));
  EXPECT_EQ(error, "cannot write " + target.string() + ": " + GetParam().reason);
  EXPECT_EQ(namesIn(dir / ""), before);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, AtomicFileRefuses,
    testing::Values(
        Refusal{"Folder", [](const TempDir& d) { fs::create_directory(d / "f"); return d / "f"; },
                Existing::Replace, "is a folder"},
        Refusal{"PathEndingInASlash", [](const TempDir& d) { return d / "f/"; }, Existing::Replace, "names a folder"},
        Refusal{"MissingFolder", [](const TempDir& d) { return d / "gone" / "out.txt"; }, Existing::Replace,
                std::strerror(ENOENT)},
        Refusal{"FileUnderAFile", [](const TempDir& d) { writeAll(d / "plain", "x"); return d / "plain" / "out.txt"; },
                Existing::Replace, std::strerror(ENOTDIR)},
        Refusal{"ExistingFileNotToBeReplaced", [](const TempDir& d) { writeAll(d / "old", "x"); return d / "old"; },
                Existing::Refuse, std::strerror(EEXIST)},
        Refusal{"ExistingLinkNotToBeReplaced",
                [](const TempDir& d) { fs::create_symlink(d / "nowhere", d / "link"); return d / "link"; },
                Existing::Refuse, std::strerror(EEXIST)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AtomicFile, ADeviceIsWrittenStraightAndAFullOneSaysSo) {
  std::string error;
  auto full = AtomicFile::create("/dev/full", error);
  ASSERT_TRUE(full) << error;
  full->write("anything");
  EXPECT_FALSE(full->commit(error));
  EXPECT_EQ(error, std::string("cannot write /dev/full: ") + std::strerror(ENOSPC));
  EXPECT_TRUE(fs::is_character_file("/dev/full")) << "the device was replaced";
  EXPECT_EQ(writeWhole("/dev/null", "gone"), "");
}

}  // namespace
}  // namespace tapsim
