#include "boardprocess.h"

#include "platform/processes.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <pthread.h>
#include <csignal>
#include <utility>
#include <cstring>
#include <algorithm>
#include <map>
#include <set>

namespace tapsim {
namespace {

// Every process of a run carries its owner's pid and start time, so that a
// later run can tell what a killed run left behind.
constexpr std::string_view kOwnerVariable = "TAPSIM_RUN_OWNER=";

std::string ownerMarkOf(pid_t pid) {
  const std::string environment = procText("/proc/" + std::to_string(pid) + "/environ");
  for (size_t at = 0; at < environment.size();) {
    const size_t end = std::min(environment.find('\0', at), environment.size());
    const std::string_view variable(environment.data() + at, end - at);
    if (variable.starts_with(kOwnerVariable)) return std::string(variable.substr(kOwnerVariable.size()));
    at = end + 1;
  }
  return {};
}

bool ownerAlive(const std::string& mark) {
  const size_t colon = mark.find(':');
  if (colon == std::string::npos) return false;
  const pid_t owner = static_cast<pid_t>(std::strtol(mark.c_str(), nullptr, 10));
  return owner > 0 && startTimeOf(owner) == mark.substr(colon + 1);
}

std::string ownMark() { return std::to_string(getpid()) + ":" + startTimeOf(getpid()); }

// A receiver's stack is small: a module's endless recursion ends there as a
// stack overflow, not after it has taken the PC's memory (an unlimited stack).
void limitStack() {
  constexpr rlim_t kStackBytes = 8 << 20;
  rlimit stack{};
  if (getrlimit(RLIMIT_STACK, &stack) != 0 || (stack.rlim_cur != RLIM_INFINITY && stack.rlim_cur <= kStackBytes)) return;
  stack.rlim_cur = kStackBytes;
  setrlimit(RLIMIT_STACK, &stack);
}

// What execve takes, an argv or an environment, pointing into the strings:
// made before the child starts.
std::vector<char*> execArgs(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  return args;
}

// One line on standard error, without allocating.
void say(const char* what, const char* program, const char* why) {
  char line[512];
  const int length = std::snprintf(line, sizeof line, "tapsim: %s %s: %s\n", what, program, why);
  if (length > 0) [[maybe_unused]] auto ignored = write(2, line, std::min<size_t>(size_t(length), sizeof line - 1));
}

// A board's child shares the host's memory until it execs (vfork), so from
// here on nothing allocates what it would not free.
[[noreturn]] void becomeProgram(char* const* args, pid_t owner, int firstClosed, const Confinement* confinement,
                                char* const* environment) {
  // It must not outlive its host, even one killed outright.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != owner) _exit(127);
  if (syscall(SYS_close_range, firstClosed, ~0U, 0) != 0)  // a kernel older than 5.9
    for (int fd = firstClosed; fd < 1024; ++fd) close(fd);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  if (const char* failed = confinement != nullptr ? confinement->apply() : nullptr) {
    say("cannot confine", args[0], failed);
    _exit(127);
  }
  execve(args[0], args, environment);
  say("cannot start", args[0], std::strerror(errno));
  _exit(127);
}

[[noreturn]] void becomeBoard(char* const* args, char* const* environment, const Confinement& confinement, int memory,
                              int callBell, int answerBell, pid_t owner) {
  const int moved[] = {fcntl(memory, F_DUPFD, 10), fcntl(callBell, F_DUPFD, 10), fcntl(answerBell, F_DUPFD, 10)};
  dup2(moved[0], WIRE_SHARED_FD);
  dup2(moved[1], WIRE_CALL_BELL_FD);
  dup2(moved[2], WIRE_ANSWER_BELL_FD);
  limitStack();
  becomeProgram(args, owner, WIRE_ANSWER_BELL_FD + 1, &confinement, environment);
}

}  // namespace

void becomeOwnedProgram(const std::vector<std::string>& argv, pid_t owner, int firstClosed,
                        const Confinement* confinement) {
  const std::vector<char*> args = execArgs(argv);
  becomeProgram(args.data(), owner, firstClosed, confinement, environ);
}

void becomeRunOwner() {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  setenv("TAPSIM_RUN_OWNER", ownMark().c_str(), 1);
}

void endAbandonedRuns() {
  const std::string mark = ownMark();
  // What a run that was killed outright left running: its owner is gone.
  for (const pid_t pid : allProcesses()) {
    if (pid == getpid()) continue;
    const std::string owner = ownerMarkOf(pid);
    if (!owner.empty() && owner != mark && !ownerAlive(owner)) ::kill(pid, SIGKILL);
  }
}

void endDescendants() {
  // Whatever is left below a subreaper is a child of it, or below one: with
  // no child at all, reaped or not, there is nothing to look for in /proc.
  for (;;) {
    const pid_t reaped = waitpid(-1, nullptr, WNOHANG);
    if (reaped < 0 && errno == ECHILD) return;
    if (reaped <= 0) break;
  }
  // Killed ones are reaped and new orphans come to us: go round until none is left.
  for (int round = 0; round < 50; ++round) {
    std::map<pid_t, std::vector<pid_t>> children;
    for (const pid_t pid : allProcesses()) children[parentOf(pid)].push_back(pid);
    std::vector<pid_t> below;
    std::vector<pid_t> pending{getpid()};
    while (!pending.empty()) {
      const pid_t parent = pending.back();
      pending.pop_back();
      for (const pid_t child : children[parent]) {
        below.push_back(child);
        pending.push_back(child);
      }
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    if (below.empty()) return;
    for (const pid_t pid : below) ::kill(pid, SIGKILL);
    for (size_t i = 0; i < below.size(); ++i)
      if (waitpid(-1, nullptr, 0) < 0) break;
  }
}

namespace {

// Sized, then sealed: the module shares the descriptor and could otherwise
// shrink the memory under the host, whose next look would be a SIGBUS.
int sealedMemory(std::string& error) {
  const int memory = static_cast<int>(syscall(SYS_memfd_create, "tapsim-wire", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (memory < 0 || ftruncate(memory, sizeof(WireShared)) != 0 ||
      fcntl(memory, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    error = std::string("cannot make the board's shared memory: ") + std::strerror(errno);
    if (memory >= 0) close(memory);
    return -1;
  }
  return memory;
}

}  // namespace

bool BoardProcess::prepare(const std::function<void(WireShared&)>& settle, int (&callPipe)[2], int (&answerPipe)[2],
                           std::string& error) {
  memory_ = sealedMemory(error);
  if (memory_ < 0) return false;
  void* mapped = mmap(nullptr, sizeof(WireShared), PROT_READ | PROT_WRITE, MAP_SHARED, memory_, 0);
  if (mapped == MAP_FAILED) {
    error = std::string("cannot map the board's shared memory: ") + std::strerror(errno);
    return false;
  }
  wire_ = static_cast<WireShared*>(mapped);
  if (settle) settle(*wire_);
  wire_->magic = WIRE_MAGIC;
  wire_->version = WIRE_VERSION;
  if (pipe2(callPipe, O_CLOEXEC) != 0 || pipe2(answerPipe, O_CLOEXEC) != 0) {
    error = std::string("cannot make the board's bells: ") + std::strerror(errno);
    return false;
  }
  callBell_ = callPipe[0];
  answerBell_ = answerPipe[1];
  // The host never waits on the board: not for a bell, not for room in one.
  fcntl(callBell_, F_SETFL, O_NONBLOCK);
  fcntl(answerBell_, F_SETFL, O_NONBLOCK);
  return true;
}

std::optional<BoardProcess> BoardProcess::start(const std::vector<std::string>& argv, const Confinement& confinement,
                                                const std::vector<std::string>& environment,
                                                const std::function<void(WireShared&)>& settle,
                                                std::string& error) {
  BoardProcess board;
  int callPipe[2] = {-1, -1}, answerPipe[2] = {-1, -1};
  if (!board.prepare(settle, callPipe, answerPipe, error)) return std::nullopt;
  const pid_t owner = getpid();
  // The child shares this process's memory until it execs rather than a copy
  // of it: a fork copied the host's page tables and then every page either
  // side wrote, milliseconds a run. No handler of this process may run in
  // the child, on that memory: signals wait until the child has execed.
  const std::vector<char*> args = execArgs(argv), variables = execArgs(environment);
  const int memory = board.memory_, callEnd = callPipe[1], answerEnd = answerPipe[0];
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  const pid_t pid = vfork();
  if (pid == 0) becomeBoard(args.data(), variables.data(), confinement, memory, callEnd, answerEnd, owner);
  const int forkError = errno;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (pid < 0) {
    error = std::string("cannot start the board: ") + std::strerror(forkError);
    return std::nullopt;
  }
  board.pid_ = pid;
  close(callPipe[1]);
  close(answerPipe[0]);
  board.pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  return std::optional<BoardProcess>(std::move(board));
}

std::optional<BoardProcess> BoardProcess::standIn(std::string& error) {
  BoardProcess board;
  int callPipe[2] = {-1, -1}, answerPipe[2] = {-1, -1};
  if (!board.prepare({}, callPipe, answerPipe, error)) return std::nullopt;
  board.boardEnds_[0] = callPipe[1];
  board.boardEnds_[1] = answerPipe[0];
  fcntl(answerPipe[0], F_SETFL, O_NONBLOCK);
  return std::optional<BoardProcess>(std::move(board));
}

BoardProcess::BoardProcess(BoardProcess&& other) noexcept
    : wire_(std::exchange(other.wire_, nullptr)),
      memory_(std::exchange(other.memory_, -1)),
      callBell_(std::exchange(other.callBell_, -1)),
      answerBell_(std::exchange(other.answerBell_, -1)),
      pidfd_(std::exchange(other.pidfd_, -1)),
      boardEnds_{std::exchange(other.boardEnds_[0], -1), std::exchange(other.boardEnds_[1], -1)},
      pid_(std::exchange(other.pid_, -1)),
      reaped_(other.reaped_),
      bellHungUp_(other.bellHungUp_),
      status_(other.status_) {}

BoardProcess::~BoardProcess() {
  if (pid_ > 0 && !reaped_) kill();
  for (int fd : {memory_, callBell_, answerBell_, pidfd_, boardEnds_[0], boardEnds_[1]})
    if (fd >= 0) close(fd);
  if (wire_ != nullptr) munmap(wire_, sizeof(WireShared));
}

bool BoardProcess::answer() {
  const char bell = 1;
  for (;;) {
    if (write(answerBell_, &bell, 1) == 1) return true;
    if (errno == EINTR) continue;
    return errno != EAGAIN;  // a board that has ended hears nothing, and that is no fault
  }
}

bool BoardProcess::asleep() const {
  if (pid_ <= 0) return false;
  const std::string stat = procText("/proc/" + std::to_string(pid_) + "/stat");
  const size_t name = stat.rfind(')');
  return name != std::string::npos && name + 2 < stat.size() && stat[name + 2] != 'R';
}

void BoardProcess::hearAnswers() {
  char bells[4096];
  while (boardEnds_[1] >= 0 && read(boardEnds_[1], bells, sizeof bells) > 0) {
  }
}

void BoardProcess::quietBell() {
  char bells[256];
  ssize_t got = 0;
  while ((got = read(callBell_, bells, sizeof bells)) > 0) {
  }
  if (got == 0) bellHungUp_ = true;
}

bool BoardProcess::ended(int& status) {
  if (pid_ <= 0) return false;
  if (!reaped_) {
    const pid_t done = waitpid(pid_, &status_, WNOHANG);
    if (done == pid_) reaped_ = true;
  }
  status = status_;
  return reaped_;
}

void BoardProcess::kill() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    if (waitpid(pid_, &status_, 0) == pid_) reaped_ = true;
  }
}

}  // namespace tapsim
