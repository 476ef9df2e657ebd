// tapsim --gdb when the debugger cannot come: one line and no run left waiting.
// (tests/tapsim/gdb-session.sh runs a whole debugging session.)
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "process.h"

namespace tapsim_test {
namespace {

// A port this test holds, so no debugger stub can listen there.
class HeldPort {
 public:
  HeldPort() : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t size = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(fd_, 1) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
      port_ = ntohs(address.sin_port);
  }
  ~HeldPort() { close(fd_); }
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;
  std::string port() const { return std::to_string(port_); }

 private:
  int fd_;
  uint16_t port_ = 0;
};

TEST(Debugger, PortInUseGivesOneLineBeforeTheRun) {
  Sandbox sandbox;
  const HeldPort held;
  const Outcome outcome = runTapsim(sandbox, {"--headless", "--keys", "quit", "--gdb", held.port(), QUARNEL_MODULE});
  EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
  ASSERT_EQ(outcome.errLines().size(), 1u) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "port " + held.port() + ": Address already in use")) << outcome.err;
  EXPECT_EQ(outcome.out, "") << "the module never ran";
  EXPECT_FALSE(outcome.strayProcesses);
}

// A gdbserver that cannot attach (a kernel that forbids it, say) must not
// leave the board waiting for ever.
TEST(Debugger, ServerThatEndsBeforeAttachingEndsTheRun) {
  Sandbox sandbox;
  const auto bin = sandbox / "bin";
  std::filesystem::create_directories(bin);
  std::ofstream(bin / "gdbserver") << "#!/bin/sh\necho \"Cannot attach to process $4: Operation not permitted\" >&2\nexit 1\n";
  std::filesystem::permissions(bin / "gdbserver", std::filesystem::perms::owner_all);
  const std::string port = HeldPort().port();  // taken and given back: free for the run
  Process tapsim(sandbox, {TAPSIM, "--headless", "--keys", "next quit", "--gdb", port, QUARNEL_MODULE},
                 {"PATH=" + bin.string() + ":/usr/bin:/bin"});
  const Outcome outcome = tapsim.wait(std::chrono::seconds(20));
  ASSERT_FALSE(outcome.timedOut) << "the run waited for a debugger that could not come";
  EXPECT_EQ(outcome.exitCode, 1) << outcome.err;
  EXPECT_TRUE(contains(outcome.err, "Operation not permitted")) << "gdbserver's own reason is shown";
  EXPECT_TRUE(contains(outcome.err, "tapsim: gdbserver ended before a debugger attached")) << outcome.err;
  EXPECT_FALSE(outcome.strayProcesses);
  EXPECT_TRUE(sandbox.leftovers().empty());
}

}  // namespace
}  // namespace tapsim_test
