// stopwatch: runs one command and prints how long it took on the monotonic
// clock, the processor time it used and its peak resident memory, so that
// scripts/bench need not trust the wall clock or an installed `time`.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr const char* kUsage =
    "usage: stopwatch [--quiet] COMMAND [ARGS...]\n"
    "\n"
    "Runs COMMAND (its descriptors are inherited; --quiet sends its standard\n"
    "output and error to /dev/null) and prints one line:\n"
    "  <wall seconds> <user seconds> <system seconds> <peak RSS in KiB> <exit status>\n"
    "and exits with the command's status. The wall time is taken on the monotonic clock.\n";

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

[[noreturn]] void runChild(char** command, bool quiet) {
  if (quiet) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 1);
      dup2(null, 2);
    }
  }
  execvp(command[0], command);
  std::fprintf(stderr, "stopwatch: cannot run %s: %s\n", command[0], std::strerror(errno));
  _exit(127);
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  bool quiet = false;
  if (first < argc && std::string_view(argv[first]) == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (first < argc && std::string_view(argv[first]) == "--quiet") {
    quiet = true;
    ++first;
  }
  if (first >= argc || std::string_view(argv[first]).starts_with("-")) {
    std::fprintf(stderr, "stopwatch: no command given (see --help)\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) {
    std::fprintf(stderr, "stopwatch: cannot start a process: %s\n", std::strerror(errno));
    return 1;
  }
  if (child == 0) runChild(argv + first, quiet);
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0) {
    std::fprintf(stderr, "stopwatch: lost the command: %s\n", std::strerror(errno));
    return 1;
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %.6f %.6f %ld %d\n", wall.count(), seconds(usage.ru_utime), seconds(usage.ru_stime),
              usage.ru_maxrss, exitStatus);
  return exitStatus;  // a failed command fails the measurement too
}
