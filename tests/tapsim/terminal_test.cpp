// The module's warning goes to a virtual pseudo-terminal and never to a real
// one, even when a real terminal of that number is open.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <charconv>

#include "process.h"

namespace tapsim_test {
namespace {

// A real pseudo-terminal pair, closed at the end.
class RealTerminal {
 public:
  RealTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    name_ = ptsname(master_);
    follower_ = ::open(name_.c_str(), O_RDWR | O_NOCTTY);
  }
  ~RealTerminal() {
    if (follower_ >= 0) close(follower_);
    if (master_ >= 0) close(master_);
  }
  RealTerminal(const RealTerminal&) = delete;
  RealTerminal& operator=(const RealTerminal&) = delete;

  bool isOpen() const { return follower_ >= 0; }
  // N of /dev/pts/N, or -1.
  int number() const {
    constexpr std::string_view prefix = "/dev/pts/";
    int n = -1;
    if (!std::string_view(name_).starts_with(prefix)) return -1;
    std::from_chars(name_.data() + prefix.size(), name_.data() + name_.size(), n);
    return n;
  }
  // What reached the terminal so far.
  std::string received() const {
    std::string bytes;
    char chunk[256];
    ssize_t got = 0;
    while ((got = read(master_, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(got));
    return bytes;
  }

 private:
  int master_ = -1, follower_ = -1;
  std::string name_;
};

TEST(PseudoTerminals, WarningNeverReachesARealTerminalOfTheSameNumber) {
  RealTerminal terminal;
  ASSERT_TRUE(terminal.isOpen());
  if (terminal.number() < 0 || terminal.number() >= 20) GTEST_SKIP() << "the real terminal is not /dev/pts/0..19";
  const std::string number = std::to_string(terminal.number());
  Sandbox sandbox;
  const Outcome outcome =
      runTapsim(sandbox, {"--headless", "--keys", "quit", "--pts", number, "--fail-alloc", "1", QUARNEL_MODULE});
  EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
  EXPECT_TRUE(contains(outcome.out, "/dev/pts/" + number + " got \"TAP_MemAlloc_Chk Warning")) << outcome.out;
  EXPECT_EQ(terminal.received(), "");
}

}  // namespace
}  // namespace tapsim_test
