// A file written whole or not at all: what stands at the target's name before,
// during and after a write. Full devices and refused targets are tested
// through fwdat create and tapsim, which write through it.
#include "front/atomicfile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <fstream>
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

// Files of this process may grow to `bytes` only; a write beyond fails with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : signal_(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &before_);
    const rlimit limit{bytes, before_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &before_);
    signal(SIGXFSZ, signal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  sighandler_t signal_;
  rlimit before_{};
};

TEST(AtomicFile, AWriteThatFailedKeepsTheFileFromBeingPutInPlace) {
  TempDir dir;
  std::string error;
  auto file = AtomicFile::create(dir / "out.txt", error);
  ASSERT_TRUE(file) << error;
  {
    FileSizeLimit limit(1000);
    EXPECT_FALSE(file->write(std::string(100000, 'x')));
  }
  file->write("the rest");
  EXPECT_FALSE(file->commit(error));
  EXPECT_NE(error.find(std::strerror(EFBIG)), std::string::npos) << error;
  EXPECT_TRUE(namesIn(dir / "").empty()) << "an incomplete file was put in place";
}

}  // namespace
}  // namespace tapsim
