#pragma once
// --gdb: what a person's debugger attaches to, and the command that does it.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tapsim {

struct DebugTarget {
  uint16_t port = 0;
  bool receiver = false;            // a MIPS module under qemu's gdb stub; else a PC one under gdbserver
  std::filesystem::path board;      // the program the debugger reads first
  std::filesystem::path sysroot;    // where the board's libraries are, as the debugger sees them
  std::filesystem::path moduleDir;  // the module and its .debug file
  std::filesystem::path sources;    // where relative file names in the debug information start; empty: unknown
};

// The one gdb-multiarch command line, quoted for a POSIX shell, that attaches
// with the board's and the module's symbols and makes breakpoints in the
// module, which is not loaded yet, pending.
std::string debuggerCommand(const DebugTarget& target);

// Whether a debugger stub could listen on the port now; error says why not.
bool portFree(uint16_t port, std::string& error);

// gdbserver attached to the waiting board, serving one debugger on the port.
class DebugServer {
 public:
  static std::optional<DebugServer> attach(const std::filesystem::path& gdbserver, uint16_t port, pid_t board,
                                           std::string& error);
  DebugServer(DebugServer&& other) noexcept;
  DebugServer& operator=(DebugServer&& other) noexcept;
  DebugServer(const DebugServer&) = delete;
  ~DebugServer();
  // Whether it has ended (it does once its debugger is gone or the board has ended).
  bool ended();
  // Gives it up to `grace` to tell its debugger how the board ended and end by
  // itself, then ends it.
  void finish(std::chrono::milliseconds grace);

 private:
  explicit DebugServer(pid_t pid) : pid_(pid) {}
  void end();
  pid_t pid_ = -1;
};

}  // namespace tapsim
