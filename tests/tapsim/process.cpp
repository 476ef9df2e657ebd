#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>


namespace tapsim_test {
namespace fs = std::filesystem;

namespace {

std::vector<std::string> environmentFor(const Sandbox& sandbox) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    // No window ever opens in these runs, whatever the machine has.
    if (text.starts_with("TMPDIR=") || text.starts_with("DISPLAY=") || text.starts_with("WAYLAND_DISPLAY="))
      continue;
    env.emplace_back(text);
  }
  env.push_back("TMPDIR=" + sandbox.tmp().string());
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  result.reserve(strings.size() + 1);
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// The high-water mark of the process's resident memory (its own, not its children's).
long residentPeakKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  return 0;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// Every process of a run carries its owner's mark in its environment
// (TAPSIM_RUN_OWNER=pid:start), whatever session or group it made for itself.
std::vector<pid_t> processesOfRun(pid_t owner) {
  const std::string mark = "TAPSIM_RUN_OWNER=" + std::to_string(owner) + ":";
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string environment = '\0' + readText(entry.path() / "environ");
    if (environment.find('\0' + mark) != std::string::npos) found.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return found;
}

}  // namespace

Sandbox::Sandbox() {
  std::string name = (fs::temp_directory_path() / "tapsim-e2e-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot make " + name);
  root_ = name;
  fs::create_directories(root_ / "tmp");
  fs::create_directories(root_ / "work");
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::vector<std::string> Sandbox::leftovers() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(tmp())) names.push_back(entry.path().filename().string());
  return names;
}

std::vector<std::string> Outcome::outLines() const { return lines(out); }

std::vector<std::string> problems(const Outcome& outcome) {
  std::vector<std::string> found;
  for (const auto& line : outcome.outLines())
    if (line.starts_with("problem: ")) found.push_back(line.substr(9));
  return found;
}
std::vector<std::string> Outcome::errLines() const { return lines(err); }

Process::Process(const Sandbox& sandbox, const std::vector<std::string>& argv,
                 const std::vector<std::string>& environment)
    : sandbox_(sandbox) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string out = (sandbox.root() / "stdout.txt").string(), err = (sandbox.root() / "stderr.txt").string();
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<std::string> args = argv, env = environmentFor(sandbox);
  for (const auto& given : environment)
    std::erase_if(env, [&](const std::string& entry) { return entry.substr(0, entry.find('=') + 1) == given.substr(0, given.find('=') + 1); });
  env.insert(env.end(), environment.begin(), environment.end());
  const int failed = posix_spawn(&pid_, args[0].c_str(), &actions, &attributes, pointers(args).data(),
                                 pointers(env).data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + args[0]);
}

Process::~Process() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

Outcome Process::wait(std::chrono::milliseconds limit) {
  Outcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  for (;;) {
    outcome.peakKiB = std::max(outcome.peakKiB, residentPeakKiB(pid_));
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      outcome.timedOut = true;
      kill(-pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // A receiver that outlived its front end is still in the group, or, in a
  // session of its own, carries the run's mark: note it, then end it.
  const std::vector<pid_t> marked = processesOfRun(pid_);
  outcome.strayProcesses = kill(-pid_, 0) == 0 || !marked.empty();
  if (kill(-pid_, 0) == 0) kill(-pid_, SIGKILL);
  for (const pid_t stray : marked) kill(stray, SIGKILL);
  pid_ = -1;
  outcome.exitCode = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  outcome.out = readText(sandbox_.root() / "stdout.txt");
  outcome.err = readText(sandbox_.root() / "stderr.txt");
  return outcome;
}

Outcome runTapsim(const Sandbox& sandbox, const std::vector<std::string>& args, std::chrono::milliseconds limit) {
  std::vector<std::string> argv{TAPSIM};
  argv.insert(argv.end(), args.begin(), args.end());
  Process process(sandbox, argv);
  return process.wait(limit);
}

std::string readText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path testModule(const std::string& name) { return fs::path(TEST_MODULES_DIR) / (name + ".tap"); }

fs::path receiverTestModule(const std::string& name) {
  return fs::path(QUARNEL_MIPSEL_DIR) / "tests/mips" / (name + ".tap");
}

bool receiverRequired() {
  const char* required = std::getenv("QUARNEL_REQUIRE_RECEIVER");
  return required != nullptr && std::string_view(required) == "1";
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace tapsim_test
