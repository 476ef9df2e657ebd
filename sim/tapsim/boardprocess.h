#pragma once
// The board's process, which the host starts and owns: the shared memory,
// the two bells, the process itself and whatever it starts. When this ends,
// nothing of the run is left running.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "board/wire.h"
#include "sandbox.h"

namespace tapsim {

class BoardProcess {
 public:
  // argv: the board (or qemu and the board) and the module; it runs confined so.
  static std::optional<BoardProcess> start(const std::vector<std::string>& argv, const Confinement& confinement,
                                           const WireShared& settings, std::string& error);
  BoardProcess(BoardProcess&& other) noexcept;
  BoardProcess& operator=(BoardProcess&&) = delete;
  BoardProcess(const BoardProcess&) = delete;
  ~BoardProcess();

  WireShared& wire() { return *wire_; }
  int callBell() const { return callBell_; }
  int exitWatch() const { return pidfd_; }  // readable once the board has ended, -1 when unknown
  pid_t pid() const { return pid_; }

  // Wakes the board that waits for an answer or for room.
  void answer();
  // Empties the call bell.
  void quietBell();
  // Whether the board has ended; its wait status in `status`.
  bool ended(int& status);
  // Ends the board and everything it started, now.
  void kill();

 private:
  BoardProcess() = default;
  WireShared* wire_ = nullptr;
  int memory_ = -1, callBell_ = -1, answerBell_ = -1, pidfd_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// In a child of the host: becomes the program argv names, with descriptors
// from firstClosed on closed and a parent-death signal, so it dies with the host;
// confined last, when a confinement is given.
[[noreturn]] void becomeOwnedProgram(const std::vector<std::string>& argv, pid_t owner, int firstClosed,
                                     const Confinement* confinement = nullptr);
// Makes this process the one that inherits whatever the board's processes
// leave behind, and ends what an earlier run that was killed left running.
void becomeRunOwner();
// Ends every process below this one (the board, and anything a module forked).
void endDescendants();

}  // namespace tapsim
