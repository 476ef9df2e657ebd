#include "debugger.h"

#include "boardprocess.h"

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

namespace tapsim {
namespace {

// One word of a shell command line, as it must be typed.
std::string shellWord(std::string_view word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A file name in a gdb command that splits its arguments at blanks.
std::string gdbWord(const std::filesystem::path& path) {
  std::string escaped;
  for (const char c : path.string()) {
    if (c == ' ' || c == '\t' || c == '\\' || c == '"' || c == '\'') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

std::string debuggerCommand(const DebugTarget& target) {
  std::vector<std::string> commands{"set breakpoint pending on", "set sysroot " + target.sysroot.string()};
  // Under qemu the loader names the module by its host path, which the sysroot does not hold.
  if (target.receiver) commands.push_back("set solib-search-path " + target.moduleDir.string());
  commands.push_back("file " + gdbWord(target.board));
  commands.push_back("target remote :" + std::to_string(target.port));
  if (!target.sources.empty()) commands.push_back("directory " + gdbWord(target.sources));
  std::string line = "gdb-multiarch -q";
  for (const auto& command : commands) line += " -ex " + shellWord(command);
  return line;
}

bool portFree(uint16_t port, std::string& error) {
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) {
    error = std::string("cannot make a socket for --gdb: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // as the stubs do: a closed run's port is free
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  const bool bound = bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  const int reason = errno;
  close(probe);
  if (!bound) error = "cannot wait for a debugger on port " + std::to_string(port) + ": " + std::strerror(reason);
  return bound;
}

std::optional<DebugServer> DebugServer::attach(const std::filesystem::path& gdbserver, uint16_t port, pid_t board,
                                               std::string& error) {
  const std::vector<std::string> argv{gdbserver.string(), "--once", "--attach", ":" + std::to_string(port),
                                      std::to_string(board)};
  const pid_t owner = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    error = std::string("cannot start gdbserver: ") + std::strerror(errno);
    return std::nullopt;
  }
  if (pid == 0) becomeOwnedProgram(argv, owner, 3);
  return DebugServer(pid);
}

DebugServer::DebugServer(DebugServer&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

DebugServer& DebugServer::operator=(DebugServer&& other) noexcept {
  if (this != &other) {
    end();
    pid_ = std::exchange(other.pid_, -1);
  }
  return *this;
}

DebugServer::~DebugServer() { end(); }

void DebugServer::end() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void DebugServer::finish(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return;
  const int exitWatch = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (exitWatch >= 0) {
    pollfd exited{exitWatch, POLLIN, 0};
    poll(&exited, 1, static_cast<int>(grace.count()));
    close(exitWatch);
  }
  if (!ended()) end();
}

bool DebugServer::ended() {
  if (pid_ <= 0) return true;
  if (waitpid(pid_, nullptr, WNOHANG) != pid_) return false;
  pid_ = -1;
  return true;
}

}  // namespace tapsim
