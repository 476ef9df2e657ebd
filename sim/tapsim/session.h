#pragma once
// The host's side of a run: one loop that serves the board's calls, feeds it
// keys, keeps the watchdog and tells how the run ended. Keys going in and
// calls coming out never wait for each other.
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "boardprocess.h"
#include "crashreport.h"
#include "firmware/calls.h"
#include "firmware/loader.h"
#include "firmware/receiver.h"
#include "parts.h"
#include "platform/remote.h"

namespace tapsim {

// Exit codes a run ends with; the module's own ending has one of its own.
// tapsim --help lists them (options.cpp), and so DEVELOPERS.md.
enum RunExit { kRunOk = 0, kRunFailed = 1, kRunUsage = 2, kRunBadModule = 3, kRunStalled = 4,
               kRunCrashed = 5, kRunHung = 6, kRunModuleExited = 7, kRunEnvironment = 8 };

struct SessionLimits {
  std::chrono::milliseconds idleLimit{2000};  // once the keys ran out
  std::chrono::seconds watchdog{20};          // without a platform call; 0: never
  std::chrono::milliseconds idleTurn{1};      // how long a turn without a key takes
  // A debugger may hold the module for as long as a person likes: nothing is
  // ended for the time it takes, and the idle time starts at the module's
  // first turn without a key.
  bool debugger = false;
};

class Session {
 public:
  // `module`: the module's file, opened before the board loads it, for the
  // functions and lines a crash report names.
  Session(Receiver& receiver, BoardProcess& board, Remote fallbackRemote, SessionLimits limits,
          ModuleFile module);

  void press(RemotePress press) {
    keys_.push_back(press);
    if (onPress) onPress(press);
  }
  void endKeys() { keysEnded_ = true; }
  bool keysEnded() const { return keysEnded_; }
  // The remote as the module expects it: its own library's remote type once it says.
  Remote remote() const;

  // Serves the board for at most `wait`; false once the run is over.
  bool step(std::chrono::milliseconds wait);
  // Ends the run now (a signal, the front end's own failure).
  void stop(const std::string& why);

  // Where the crash reader is, loaded when a crash or a hang is reported; a
  // reader that will not load ends the run as the machine's fault.
  PartFile crashReader;
  std::function<void(const ModuleRecords&)> onLoaded;
  std::function<void(RemotePress)> onPress;
  // The board has loaded the module and waits for a debugger before its start-up entry.
  std::function<void()> onAwaitingDebugger;
  bool awaitingDebugger() const { return awaitingDebugger_; }
  // A debugger has let the board go on from where it waited for one.
  bool debuggerAttached() const { return debuggerAttached_; }

  // How it ended.
  int exitCode() const { return exitCode_; }
  const std::string& verdict() const { return verdict_; }  // one line, empty when all went well
  // Lines that follow the verdict: the calls a crashed module was in.
  const std::vector<std::string>& verdictDetails() const { return details_; }
  // Problems of the run itself, for the summary.
  const std::vector<std::string>& notes() const { return notes_; }
  bool summaryWanted() const { return summaryWanted_; }
  // The C library calls the sandbox refused, each once, as the board told them.
  const std::vector<std::string>& refusedCalls() const { return refused_; }
  uint64_t refusedUntold() const { return refusedUntold_; }
  std::optional<int32_t> moduleResult;
  bool stalled = false;
  std::string keyHandling;

 private:
  using Clock = std::chrono::steady_clock;
  // Handles at most `most` calls, until `until`; true when more are waiting.
  bool drain(size_t most, std::chrono::steady_clock::time_point until);
  bool nextMessage(uint32_t& head, uint32_t tail, WireMessage& message);
  void noteSignsOfLife(bool backlog);
  void wakeForRoom();
  void ring();
  // Ends the run: the module wrote over what the board and the host share.
  void fault(const std::string& what);
  std::optional<uint32_t> keyHead();
  bool keysQueued() const;
  void handle(const WireMessage& message, std::string_view payload);
  bool platformCall(const WireMessage& message, std::string_view payload);
  bool screenCall(const WireMessage& message, std::string_view payload);
  bool systemCall(const WireMessage& message, std::string_view payload);
  bool diskCall(const WireMessage& message, std::string_view payload);
  void turnCall(const uint32_t* args);
  void formatCall(const WireMessage& message, std::string_view payload);
  void sendRead(uint32_t result);
  void boardReport(const WireMessage& message, std::string_view payload);
  void noteRefused(std::string_view payload);
  void answer(std::initializer_list<uint32_t> words);
  void pushKeys();
  void settleTurn();
  void watch();
  void askWhereItIsStuck(int& status);
  std::string stuckPlace();
  // What is left of the module's calls when the run ends gets `lastCallsTime`.
  // An ended board leaves at most one ring of calls, so the bound is for a host
  // slowed down (valgrind, a loaded machine), not for a module that calls on:
  // a second was too little for valgrind to serve the last few screens.
  void finish(int status, std::chrono::milliseconds lastCallsTime = std::chrono::seconds(30));
  void end(int code, const std::string& verdict, bool summary);
  std::string crashLine(int signal);
  CrashPlaces crashPlaces();
  std::chrono::milliseconds untilNextDeadline() const;

  Receiver& rx_;
  BoardProcess& board_;
  Remote fallback_;
  SessionLimits limits_;
  ModuleFile module_;
  unsigned pointerBytes_ = 0;
  std::optional<uint64_t> moduleBase_;
  std::deque<RemotePress> keys_;
  bool keysEnded_ = false;
  bool turnSeen_ = false;
  bool awaitingDebugger_ = false;
  bool debuggerAttached_ = false;
  std::optional<int32_t> moduleRemoteType_;
  bool turnWaiting_ = false;
  Clock::time_point turnAskedAt_{};
  Clock::time_point lastCall_ = Clock::now(), lastTurn_ = Clock::now();
  std::optional<Clock::time_point> idleSince_;
  calls::PendingRead reading_;
  // The host's own places in the rings; what the shared memory says is only checked against them.
  uint32_t ownHead_ = 0, seenTail_ = 0;
  uint32_t ownKeyTail_ = 0, keyHead_ = 0;
  uint64_t keysPushed_ = 0;
  bool helloSeen_ = false, loadedSeen_ = false;
  std::vector<std::string> notes_;
  bool over_ = false;
  int exitCode_ = kRunOk;
  std::string verdict_;
  std::vector<std::string> details_;
  bool summaryWanted_ = true;
  std::string loadFailure_;
  std::optional<std::pair<int, uint32_t>> exited_;  // code, how
  std::optional<Fault> crash_;
  std::string readerError_;  // the crash reader could not be loaded
  std::string killedFor_;
  int killedCode_ = 0;
  std::vector<std::string> refused_;
  uint64_t refusedUntold_ = 0;
};

}  // namespace tapsim
