#include "xserver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tapsim {
namespace {

constexpr int kStartTimeoutMs = 10'000;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

void stop(pid_t pid) {
  kill(pid, SIGTERM);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// The server writes its display number to the descriptor once it accepts connections.
bool readDisplayNumber(int fd, std::string& number) {
  char buffer[32];
  while (number.find('\n') == std::string::npos) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, kStartTimeoutMs) <= 0) return false;
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) return false;
    number.append(buffer, size_t(got));
  }
  number.erase(number.find('\n'));
  return !number.empty();
}

}  // namespace

std::unique_ptr<XServer> XServer::start(std::string& error) {
  int fds[2];
  if (pipe(fds) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  Fd readEnd(fds[0]), writeEnd(fds[1]);
  fcntl(readEnd.get(), F_SETFD, FD_CLOEXEC);
  const std::string fd = std::to_string(writeEnd.get());
  // -noreset: an X server resets when its last client goes, and refuses
  // connections meanwhile; tests open and close windows one after another.
  std::vector<std::string> args = {"Xvfb", "-displayfd", fd, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"};
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    return nullptr;
  }
  if (pid == 0) {
    // The server goes when the test does, even when the test crashes.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    const int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    execvp("Xvfb", argv.data());
    _exit(127);
  }
  writeEnd.reset();
  std::string number;
  if (!readDisplayNumber(readEnd.get(), number)) {
    stop(pid);
    error = "Xvfb did not start or did not report a display";
    return nullptr;
  }
  return std::unique_ptr<XServer>(new XServer(pid, ":" + number));
}

XServer::~XServer() { stop(pid_); }

}  // namespace tapsim
