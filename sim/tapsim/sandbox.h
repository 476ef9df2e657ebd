#pragma once
// The board's confinement, in two layers: Landlock limits what it can reach
// (files, TCP, signals, abstract sockets), then a seccomp filter refuses the
// system calls Landlock does not cover. Planned in the host, applied in the
// child between fork and exec, so nothing the module runs can undo it.
#include <linux/filter.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tapsim {

enum class SandboxMode { confined, required, off };

// What the board's process needs to start and run, and nothing more.
struct BoardReach {
  std::vector<std::filesystem::path> readExecute;  // programs, libraries, the sysroot
  std::vector<std::filesystem::path> readOnly;     // the module and its debug file
  std::vector<std::filesystem::path> readWrite;    // devices that hold nothing (/dev/null)
  std::optional<uint16_t> tcpBindPort;             // qemu's gdb stub listens there
};

// Landlock rules as the child applies them: every right of the running ABI handled.
struct LandlockPlan {
  int abi = 0;  // 0: this kernel has no Landlock (or it is switched off)
  BoardReach reach;
};

// The Landlock ABI this kernel speaks, capped by TAPSIM_LANDLOCK_ABI (tests
// use it to stand for an older kernel); 0 when there is none.
int landlockAbi();
// In the child: restricts this process to the plan. False when the kernel refused.
bool applyLandlock(const LandlockPlan& plan);

// The seccomp filter, compiled in the host; empty when libseccomp could not
// make it. `program`: the address of the path the child execs, the one exec
// that passes (null: any).
std::vector<sock_filter> syscallFilter(bool debuggerSocket, const char* program);

class Confinement {
 public:
  // What the board for this module may reach, from its command line.
  static Confinement plan(const std::vector<std::string>& command, const std::filesystem::path& module,
                          std::optional<uint16_t> stubPort, SandboxMode mode);
  // One line for the summary: the layers in force, and what is open without one.
  std::string describe() const;
  // Both layers are in force, with every right a current kernel knows.
  bool complete() const { return landlock_.abi > 0 && !filter_.empty(); }
  bool off() const { return mode_ == SandboxMode::off; }
  // The board's environment, made in the host: a confined module sees the
  // receiver's, which holds none of the user's variables, only what the run
  // needs and `given` (NAME=VALUE); an unconfined one sees the user's too.
  std::vector<std::string> environment(const std::vector<std::string>& given) const;
  // In the child, just before exec: limits, a new session, then both layers.
  // Returns what failed, or nullptr.
  const char* apply() const;

 private:
  SandboxMode mode_ = SandboxMode::confined;
  bool memoryChecked_ = false;
  LandlockPlan landlock_;
  std::vector<sock_filter> filter_;
};

}  // namespace tapsim
