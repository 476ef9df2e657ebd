// Runs tapsim (or the receiver) as a user would: its own process group, a
// private temporary folder as TMPDIR, no display unless one is given, stdout
// and stderr caught in files.
#pragma once
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace tapsim_test {

// A folder of its own for one test; tmp() is what the tool sees as TMPDIR,
// so whatever it leaves behind there can be counted.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path tmp() const { return root_ / "tmp"; }
  std::filesystem::path operator/(const std::string& name) const { return root_ / "work" / name; }
  // Names of what is left in tmp().
  std::vector<std::string> leftovers() const;

 private:
  std::filesystem::path root_;
};

struct Outcome {
  int exitCode = -1;  // 128 + signal when killed
  bool timedOut = false;
  bool strayProcesses = false;  // something it started was still running after it ended
  long peakKiB = 0;             // the process's own largest resident memory, as last seen alive
  std::string out, err;
  std::vector<std::string> outLines() const;
  std::vector<std::string> errLines() const;
};

class Process {
 public:
  // `environment` entries ("NAME=value") come on top of the test's own, in place of any of the same name.
  Process(const Sandbox& sandbox, const std::vector<std::string>& argv,
          const std::vector<std::string>& environment = {});
  ~Process();  // a process still running is killed with its group
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the end; after `limit` the whole group is killed and timedOut set.
  Outcome wait(std::chrono::milliseconds limit = std::chrono::seconds(20));

 private:
  const Sandbox& sandbox_;
  pid_t pid_ = -1;
};

// tapsim with these arguments, run to its end.
Outcome runTapsim(const Sandbox& sandbox, const std::vector<std::string>& args,
                  std::chrono::milliseconds limit = std::chrono::seconds(20));

// tapsim's exit codes that tests look for.
inline constexpr int kUsage = 2, kBadModule = 3, kStalled = 4, kCrashed = 5, kHung = 6;

// What the summary names as problems, without the "problem: " in front.
std::vector<std::string> problems(const Outcome& outcome);
std::string readText(const std::filesystem::path& file);
std::filesystem::path testModule(const std::string& name);
// The receiver build of a test module (tests/mips), run under qemu.
std::filesystem::path receiverTestModule(const std::string& name);
// Whether a missing receiver build fails a test rather than skips it (scripts/test).
bool receiverRequired();
bool contains(const std::string& text, const std::string& part);

}  // namespace tapsim_test
