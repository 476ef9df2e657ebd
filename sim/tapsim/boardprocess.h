#pragma once
// The board's process, which the host starts and owns: the shared memory,
// the two bells, the process itself and whatever it starts. When this ends,
// nothing of the run is left running.
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "board/wire.h"
#include "sandbox.h"

namespace tapsim {

class BoardProcess {
 public:
  // argv: the board (or qemu and the board) and the module; it runs confined so.
  // `settle` sets what the host sets before the board starts, in the shared
  // memory itself: a WireShared of its own would be a megabyte to clear.
  static std::optional<BoardProcess> start(const std::vector<std::string>& argv, const Confinement& confinement,
                                           const std::vector<std::string>& environment,
                                           const std::function<void(WireShared&)>& settle, std::string& error);
  // The shared memory and the bells with no process behind them, for tests
  // that play the board's part; the board's ends of the bells stay open here.
  static std::optional<BoardProcess> standIn(std::string& error);
  BoardProcess(BoardProcess&& other) noexcept;
  BoardProcess& operator=(BoardProcess&&) = delete;
  BoardProcess(const BoardProcess&) = delete;
  ~BoardProcess();

  WireShared& wire() { return *wire_; }
  int callBell() const { return callBell_; }
  int exitWatch() const { return pidfd_; }  // readable once the board has ended, -1 when unknown
  pid_t pid() const { return pid_; }

  // Wakes the board that waits for an answer or for room, without waiting:
  // false when the bell is full, because the board asked and never listened.
  bool answer();
  // Whether the board is asleep in the kernel (waiting on us, or sleeping),
  // rather than running the module's code.
  bool asleep() const;
  // A stand-in's side: takes the answers rung so far, as a board would.
  void hearAnswers();
  // Empties the call bell.
  void quietBell();
  // Nobody can ring the call bell any more: the board is on its way out.
  bool bellHungUp() const { return bellHungUp_; }
  // Whether the board has ended; its wait status in `status`.
  bool ended(int& status);
  // Ends the board and everything it started, now.
  void kill();

 private:
  BoardProcess() = default;
  bool prepare(const std::function<void(WireShared&)>& settle, int (&callPipe)[2], int (&answerPipe)[2],
               std::string& error);
  WireShared* wire_ = nullptr;
  int memory_ = -1, callBell_ = -1, answerBell_ = -1, pidfd_ = -1;
  int boardEnds_[2] = {-1, -1};  // a stand-in's: the call bell's writer, the answer bell's reader
  pid_t pid_ = -1;
  bool reaped_ = false;
  bool bellHungUp_ = false;
  int status_ = 0;
};

// In a child of the host: becomes the program argv names, with descriptors
// from firstClosed on closed and a parent-death signal, so it dies with the host;
// confined last, when a confinement is given.
[[noreturn]] void becomeOwnedProgram(const std::vector<std::string>& argv, pid_t owner, int firstClosed,
                                     const Confinement* confinement = nullptr);
// Makes this process the one that inherits whatever the board's processes
// leave behind, and marks the processes it starts as this run's.
void becomeRunOwner();
// Ends what an earlier run that was killed outright left running. It reads
// every process's environment, so a run does it while its board starts.
void endAbandonedRuns();
// Ends every process below this one (the board, and anything a module forked).
void endDescendants();

}  // namespace tapsim
