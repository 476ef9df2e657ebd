#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "firmware/pts.h"

namespace {

using tapsim::pts::Terminals;

// The C library as a loaded module reaches it.
class Caller {
 public:
  Caller() : handle_(dlopen(PTS_CALLER, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    open = find<int (*)(const char*, int)>("callerOpen");
    openCreating = find<int (*)(const char*, int, int)>("callerOpenCreating");
    open64 = find<int (*)(const char*, int)>("callerOpen64");
    write = find<ssize_t (*)(int, const void*, size_t)>("callerWrite");
    close = find<int (*)(int)>("callerClose");
  }
  ~Caller() { dlclose(handle_); }
  Caller(const Caller&) = delete;
  Caller& operator=(const Caller&) = delete;

  int (*open)(const char*, int);
  int (*openCreating)(const char*, int, int);
  int (*open64)(const char*, int);
  ssize_t (*write)(int, const void*, size_t);
  int (*close)(int);

  ssize_t writeText(int descriptor, std::string_view bytes) {
    return write(descriptor, bytes.data(), bytes.size());
  }

 private:
  template <typename Function>
  Function find(const char* name) {
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) throw std::runtime_error(name);
    return reinterpret_cast<Function>(symbol);
  }
  void* handle_;
};

std::string terminalPath(int number) { return "/dev/pts/" + std::to_string(number); }

Terminals terminals(std::initializer_list<int> numbers) {
  Terminals set;
  for (int n : numbers) set.set(static_cast<size_t>(n));
  return set;
}

class Pts : public ::testing::Test {
 protected:
  void SetUp() override { tapsim::pts::reset(); }
  void TearDown() override { tapsim::pts::reset(); }
  Caller libc;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A fresh process has had no configuration: nothing may open, nothing may be kept.
void openEveryTerminalUnconfigured() {
  Caller libc;
  for (int n = 0; n < tapsim::pts::kTerminalCount; ++n) {
    const int descriptor = libc.open(terminalPath(n).c_str(), O_RDWR);
    if (descriptor >= 0) std::_Exit(10 + n);
  }
  std::_Exit(tapsim::pts::openDescriptors() == 0 ? 0 : 1);
}

TEST(PtsFreshProcess, NoTerminalOpensBeforeConfiguration) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(openEveryTerminalUnconfigured(), ::testing::ExitedWithCode(0), "");
}

TEST_F(Pts, OnlyConfiguredTerminalsOpen) {
  const Terminals configured = terminals({0, 3, 19});
  tapsim::pts::setOpenable(configured);
  for (int n = 0; n < tapsim::pts::kTerminalCount; ++n) {
    SCOPED_TRACE(n);
    errno = 0;
    const int descriptor = libc.open(terminalPath(n).c_str(), O_RDWR);
    if (configured.test(static_cast<size_t>(n))) {
      ASSERT_GE(descriptor, 0);
      EXPECT_EQ(libc.close(descriptor), 0);
      EXPECT_EQ(tapsim::pts::opens(n), 1);
    } else {
      EXPECT_EQ(descriptor, -1);
      EXPECT_EQ(errno, ENOENT);
      EXPECT_EQ(tapsim::pts::opens(n), 0);
    }
  }
  EXPECT_EQ(tapsim::pts::openDescriptors(), 0u);
}

TEST_F(Pts, WritesAreKeptPerTerminalByteForByteZeroByteIncluded) {
  tapsim::pts::setOpenable(terminals({2, 5}));
  const int two = libc.open("/dev/pts/2", O_RDWR);
  const int five = libc.open("/dev/pts/5", O_WRONLY);
  ASSERT_GE(two, 0);
  ASSERT_GE(five, 0);
  ASSERT_NE(two, five);

  using namespace std::string_view_literals;
  const auto first = "warning\n\0"sv;
  const auto other = "\xE9\x00\xFF\x7F"sv;
  const auto second = "\0\0tail"sv;
  EXPECT_EQ(libc.writeText(two, first), static_cast<ssize_t>(first.size()));
  EXPECT_EQ(libc.writeText(five, other), static_cast<ssize_t>(other.size()));
  EXPECT_EQ(libc.writeText(two, second), static_cast<ssize_t>(second.size()));

  EXPECT_EQ(tapsim::pts::written(2), std::string(first) + std::string(second));
  EXPECT_EQ(tapsim::pts::written(5), std::string(other));
  for (int n : {0, 1, 3, 4, 6, 19}) EXPECT_EQ(tapsim::pts::written(n), "") << n;
  libc.close(two);
  libc.close(five);
}

TEST_F(Pts, FirstTerminalThatOpensTakesTheLineAndNoOtherIsTouched) {
  tapsim::pts::setOpenable(terminals({4, 7}));
  const std::string text = "TAP_MemAlloc_Chk Warning: TAP_MemAlloc(100) returned NULL pointer @ x\n";
  int receiver = -1;
  for (int n = 0; n < tapsim::pts::kTerminalCount; ++n) {
    const int descriptor = libc.open(terminalPath(n).c_str(), 2);
    if (descriptor < 0) continue;
    libc.write(descriptor, text.c_str(), text.size() + 1);
    libc.close(descriptor);
    receiver = n;
    break;
  }
  EXPECT_EQ(receiver, 4);
  EXPECT_EQ(tapsim::pts::written(4), text + std::string(1, '\0'));
  EXPECT_EQ(tapsim::pts::written(7), "");
  EXPECT_EQ(tapsim::pts::opens(7), 0);
  EXPECT_EQ(tapsim::pts::openDescriptors(), 0u);
}

TEST_F(Pts, SameTerminalOpenedTwiceCollectsBothInOrder) {
  tapsim::pts::setOpenable(terminals({1}));
  const int a = libc.open("/dev/pts/1", O_RDWR);
  const int b = libc.open("/dev/pts/1", O_RDWR);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  EXPECT_NE(a, b);
  libc.writeText(b, "b1");
  libc.writeText(a, "a1");
  libc.writeText(b, "b2");
  EXPECT_EQ(tapsim::pts::written(1), "b1a1b2");
  EXPECT_EQ(tapsim::pts::opens(1), 2);
  EXPECT_EQ(tapsim::pts::openDescriptors(), 2u);
  libc.close(a);
  libc.close(b);
}

TEST_F(Pts, ClosedTerminalIsReleasedAndTakesNoMoreWrites) {
  tapsim::pts::setOpenable(terminals({0}));
  const int descriptor = libc.open("/dev/pts/0", O_RDWR);
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(tapsim::pts::openDescriptors(), 1u);
  libc.writeText(descriptor, "before");
  EXPECT_EQ(libc.close(descriptor), 0);
  EXPECT_EQ(tapsim::pts::openDescriptors(), 0u);

  errno = 0;
  EXPECT_EQ(libc.writeText(descriptor, "after"), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(libc.close(descriptor), -1);
  EXPECT_EQ(tapsim::pts::written(0), "before");
}

TEST_F(Pts, TerminalOpenedForReadingRefusesWrites) {
  tapsim::pts::setOpenable(terminals({6}));
  const int descriptor = libc.open("/dev/pts/6", O_RDONLY);
  ASSERT_GE(descriptor, 0);
  errno = 0;
  EXPECT_EQ(libc.writeText(descriptor, "text"), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(tapsim::pts::written(6), "");
  libc.close(descriptor);
}

TEST_F(Pts, WriteFromNullBufferIsRefusedAndEmptyWriteKeepsNothing) {
  tapsim::pts::setOpenable(terminals({8}));
  const int descriptor = libc.open("/dev/pts/8", O_RDWR);
  ASSERT_GE(descriptor, 0);
  errno = 0;
  EXPECT_EQ(libc.write(descriptor, nullptr, 5), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(libc.write(descriptor, "x", 0), 0);
  EXPECT_EQ(tapsim::pts::written(8), "");
  libc.close(descriptor);
}

TEST_F(Pts, Open64IsServedLikeOpen) {
  tapsim::pts::setOpenable(terminals({9}));
  const int descriptor = libc.open64("/dev/pts/9", O_RDWR);
  ASSERT_GE(descriptor, 0);
  libc.writeText(descriptor, "wide");
  libc.close(descriptor);
  EXPECT_EQ(tapsim::pts::written(9), "wide");
  errno = 0;
  EXPECT_EQ(libc.open64("/dev/pts/10", O_RDWR), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(Pts, OtherFilesGoToTheRealCallsWithTheirMode) {
  tapsim::pts::setOpenable(Terminals().set());
  const auto path = std::filesystem::temp_directory_path() /
                    ("pts-test-" + std::to_string(getpid()) + ".bin");
  std::filesystem::remove(path);
  const mode_t oldMask = umask(022);
  const int file = libc.openCreating(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0640);
  umask(oldMask);
  ASSERT_GE(file, 0);
  const int terminal = libc.open("/dev/pts/0", O_RDWR);
  ASSERT_GE(terminal, 0);
  EXPECT_NE(file, terminal);

  using namespace std::string_view_literals;
  EXPECT_EQ(libc.writeText(file, "on disk\0!"sv), 9);
  libc.writeText(terminal, "on terminal");
  EXPECT_EQ(libc.close(file), 0);
  EXPECT_EQ(libc.close(terminal), 0);

  EXPECT_EQ(readFile(path), std::string("on disk\0!"sv));
  EXPECT_EQ(tapsim::pts::written(0), "on terminal");
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  std::filesystem::remove(path);
}

TEST_F(Pts, PathsThatOnlyResembleTerminalsAreNotServed) {
  tapsim::pts::setOpenable(Terminals().set());
  for (const char* path : {"/dev/pts/05", "/dev/pts/1x", "/dev/pts/-1", "/dev/pts/+1",
                           "/dev/pts/123456789", "/dev/pts/4294967297", "dev/pts/1"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(libc.open(path, O_RDONLY | O_NOCTTY), -1);
  }
  for (int n = 0; n < tapsim::pts::kTerminalCount; ++n) EXPECT_EQ(tapsim::pts::opens(n), 0) << n;
  EXPECT_EQ(tapsim::pts::openDescriptors(), 0u);
}

TEST_F(Pts, ResetForgetsConfigurationTextAndOpenDescriptors) {
  tapsim::pts::setOpenable(terminals({3}));
  const int descriptor = libc.open("/dev/pts/3", O_RDWR);
  ASSERT_GE(descriptor, 0);
  libc.writeText(descriptor, "kept");
  tapsim::pts::reset();
  EXPECT_EQ(tapsim::pts::written(3), "");
  EXPECT_EQ(tapsim::pts::opens(3), 0);
  EXPECT_EQ(tapsim::pts::openDescriptors(), 0u);
  EXPECT_TRUE(tapsim::pts::openable().none());
  EXPECT_EQ(libc.open("/dev/pts/3", O_RDWR), -1);
  EXPECT_EQ(libc.writeText(descriptor, "late"), -1);
  EXPECT_EQ(tapsim::pts::written(3), "");
}

TEST(PtsWritten, TerminalsOutsideTheRangeHoldNothing) {
  EXPECT_EQ(tapsim::pts::written(-1), "");
  EXPECT_EQ(tapsim::pts::written(20), "");
  EXPECT_EQ(tapsim::pts::opens(20), 0);
}

struct VisibleCase {
  std::string_view bytes;
  std::string_view shown;
  const char* name;
};

void PrintTo(const VisibleCase& c, std::ostream* out) { *out << c.name; }

class PtsVisible : public ::testing::TestWithParam<VisibleCase> {};

TEST_P(PtsVisible, ControlAndEightBitBytesAreSpelledOut) {
  EXPECT_EQ(tapsim::pts::visible(GetParam().bytes), GetParam().shown);
}

using namespace std::string_view_literals;
INSTANTIATE_TEST_SUITE_P(Bytes, PtsVisible,
                         ::testing::Values(VisibleCase{"line\n\0"sv, "line\\n\\0"sv, "ZeroAndLineFeed"},
                                           VisibleCase{"a\\b"sv, "a\\\\b"sv, "Backslash"},
                                           VisibleCase{"\t\r"sv, "\\t\\r"sv, "TabAndReturn"},
                                           VisibleCase{"\xE9\x01\x7F"sv, "\\xE9\\x01\\x7F"sv, "HexBytes"},
                                           VisibleCase{"plain ~text"sv, "plain ~text"sv, "Printable"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
