#include "launch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace tapsim {
namespace {

volatile sig_atomic_t runningReceiver = 0;  // its pid, 0 when none runs
volatile sig_atomic_t requestedStop = 0;

void stopRunningReceiver(int signal) {
  requestedStop = signal;
  if (runningReceiver > 0) kill(runningReceiver, SIGTERM);
}

bool readExactly(int fd, void* buffer, size_t size) {
  auto* bytes = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t got = read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool readLine(int fd, std::string& line) {
  line.clear();
  char c = 0;
  while (line.size() < 256) {
    if (!readExactly(fd, &c, 1)) return false;
    if (c == '\n') return true;
    line += c;
  }
  return false;
}

[[noreturn]] void becomeReceiver(const std::vector<std::string>& argv, int keyRead, int frameWrite) {
  // Move the two pipe ends to the numbers the receiver expects, whatever they were.
  const int keys = fcntl(keyRead, F_DUPFD, 10), frames = fcntl(frameWrite, F_DUPFD, 10);
  dup2(keys, ReceiverProcess::kKeyFd);
  dup2(frames, ReceiverProcess::kFrameFd);
  for (int fd = ReceiverProcess::kFrameFd + 1; fd < 64; ++fd) close(fd);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  const std::string message = "tapsim: cannot start " + argv[0] + ": " + std::strerror(errno) + "\n";
  [[maybe_unused]] auto ignored = write(2, message.data(), message.size());
  _exit(127);
}

}  // namespace

void stopReceiverOnSignals() {
  struct sigaction action {};
  action.sa_handler = stopRunningReceiver;
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int stopSignal() { return requestedStop; }

std::optional<ReceiverProcess> ReceiverProcess::start(const std::vector<std::string>& argv, std::string& error) {
  int keyPipe[2], framePipe[2];
  if (pipe2(keyPipe, O_CLOEXEC) != 0 || pipe2(framePipe, O_CLOEXEC) != 0) {
    error = std::string("cannot make pipes: ") + std::strerror(errno);
    return std::nullopt;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    error = std::string("cannot start the receiver: ") + std::strerror(errno);
    return std::nullopt;
  }
  if (pid == 0) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    becomeReceiver(argv, keyPipe[0], framePipe[1]);
  }
  runningReceiver = pid;
  if (requestedStop != 0) kill(pid, SIGTERM);  // asked before it existed
  close(keyPipe[0]);
  close(framePipe[1]);
  signal(SIGPIPE, SIG_IGN);  // a receiver that ended early must not take us with it
  return ReceiverProcess(pid, keyPipe[1], framePipe[0]);
}

ReceiverProcess::ReceiverProcess(ReceiverProcess&& other) noexcept
    : pid_(other.pid_), keys_(other.keys_), frames_(other.frames_) {
  other.pid_ = -1;
  other.keys_ = other.frames_ = -1;
}

ReceiverProcess::~ReceiverProcess() {
  endKeys();
  if (frames_ >= 0) close(frames_);
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    runningReceiver = 0;
  }
}

void ReceiverProcess::sendKey(uint32_t code) {
  if (keys_ < 0) return;
  char line[16];
  const int length = std::snprintf(line, sizeof line, "0x%x\n", code);
  if (write(keys_, line, static_cast<size_t>(length)) != length) endKeys();
}

void ReceiverProcess::endKeys() {
  if (keys_ >= 0) close(keys_);
  keys_ = -1;
}

bool ReceiverProcess::readFrame(Frame& frame, uint32_t& page, std::string& error) {
  std::string header;
  if (!readLine(frames_, header)) return false;
  unsigned long number = 0, width = 0, height = 0, pageNumber = 0;
  if (std::sscanf(header.c_str(), "FRAME %lu %lu %lu %lu", &number, &width, &height, &pageNumber) != 4 ||
      width != kScreenWidth || height != kScreenHeight) {
    error = "the receiver sent a damaged screen (" + header + ")";
    return false;
  }
  frame.resize(static_cast<size_t>(kScreenWidth) * kScreenHeight);
  if (!readExactly(frames_, frame.data(), frame.size() * sizeof(uint32_t))) {
    error = "the receiver ended in the middle of a screen";
    return false;
  }
  page = static_cast<uint32_t>(pageNumber);
  return true;
}

void ReceiverProcess::stop() {
  if (pid_ > 0) kill(pid_, SIGTERM);
}

int ReceiverProcess::wait(std::string& how) {
  endKeys();
  int status = 0;
  if (waitpid(pid_, &status, 0) < 0) {
    how = std::string("lost the receiver: ") + std::strerror(errno);
    return 1;
  }
  pid_ = -1;
  runningReceiver = 0;
  if (WIFSIGNALED(status)) {
    how = std::string("the receiver was killed by ") + strsignal(WTERMSIG(status));
    return 128 + WTERMSIG(status);
  }
  return WEXITSTATUS(status);
}

}  // namespace tapsim
