#include "session.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>

#include "firmware/calls.h"
#include "platform/visible.h"

namespace tapsim {
namespace {

constexpr uint32_t kMessageBytes = sizeof(WireMessage);
constexpr size_t kMostCallsPerStep = 20000;
// However costly the calls, the clock and the signals are looked at this often.
constexpr std::chrono::milliseconds kStepTime{20};
// The longest message a board writes; a filler longer than that is none of its.
constexpr uint32_t kLongestMessage = kMessageBytes + WIRE_MAX_PAYLOAD;

uint32_t padded(uint32_t size) { return (size + 3u) & ~3u; }
uint64_t wide(uint32_t low, uint32_t high) { return uint64_t{low} | uint64_t{high} << 32; }

// Texts arrive with their terminator when whole; a cut one ends where the payload does.
std::string textOf(std::string_view payload) { return std::string(payload.substr(0, payload.find('\0'))); }

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string signalName(int signal) {
  const char* name = sigabbrev_np(signal);
  return name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(signal);
}

int hostSignal(uint32_t wireSignal) {
  switch (wireSignal) {
    case WIRE_SIGNAL_SEGV: return SIGSEGV;
    case WIRE_SIGNAL_BUS: return SIGBUS;
    case WIRE_SIGNAL_ILL: return SIGILL;
    case WIRE_SIGNAL_FPE: return SIGFPE;
    case WIRE_SIGNAL_ABRT: return SIGABRT;
    case WIRE_SIGNAL_TRAP: return SIGTRAP;
    case WIRE_SIGNAL_SYS: return SIGSYS;
    case WIRE_SIGNAL_XCPU: return SIGXCPU;
    default: return 0;
  }
}

const char* exitName(uint32_t how) {
  return how == WIRE_EXIT_UNDERSCORE ? "_exit" : how == WIRE_EXIT_CAPITAL ? "_Exit" : "exit";
}

}  // namespace

Session::Session(Receiver& receiver, BoardProcess& board, Remote fallbackRemote, SessionLimits limits,
                 ModuleFile module)
    : rx_(receiver), board_(board), fallback_(fallbackRemote), limits_(limits), module_(std::move(module)) {
  // Where the rings stand now (nothing was posted yet); only this side moves its own places on.
  const WireShared& wire = board_.wire();
  ownHead_ = seenTail_ = wire.callHead;
  ownKeyTail_ = keyHead_ = wire.eventTail;
}

Remote Session::remote() const {
  Remote remote = fallback_;
  if (moduleRemoteType_) remote.remoteType = *moduleRemoteType_;
  return remote;
}

void Session::answer(std::initializer_list<uint32_t> words) {
  WireShared& wire = board_.wire();
  std::copy(words.begin(), words.end(), wire.answer);
  ring();
}

void Session::ring() {
  if (!board_.answer()) fault("it asked for answers it never waited for");
}

void Session::fault(const std::string& what) {
  if (over_) return;
  board_.kill();
  end(kRunCrashed, "the module damaged the board's messages to the platform: " + what, true);
}

bool Session::step(std::chrono::milliseconds wait) {
  if (over_) return false;
  // A module that calls without end must not keep the clock from being looked at.
  const bool more = drain(kMostCallsPerStep, Clock::now() + kStepTime);
  noteSignsOfLife(more);
  pushKeys();
  settleTurn();
  watch();
  int status = 0;
  if (!over_ && board_.ended(status)) finish(status);
  if (over_) return false;
  pollfd watched[2] = {{board_.callBell(), POLLIN, 0}, {board_.exitWatch(), POLLIN, 0}};
  const auto timeout = more ? std::chrono::milliseconds(0) : std::min(wait, untilNextDeadline());
  // A hung-up bell wakes every poll at once; while the board ends, this side
  // waits for its end rather than spin beside it for the processor.
  const bool bell = !board_.bellHungUp();
  poll(bell ? watched : watched + 1, (bell ? 1 : 0) + (board_.exitWatch() >= 0 ? 1 : 0),
       static_cast<int>(std::max<int64_t>(timeout.count(), 0)));
  board_.quietBell();
  return true;
}

std::chrono::milliseconds Session::untilNextDeadline() const {
  using std::chrono::milliseconds;
  milliseconds next(10);  // calls that rang no bell are looked at this often
  if (turnWaiting_ && keysEnded_ && keys_.empty()) next = std::min(next, limits_.idleTurn);
  return std::max(next, milliseconds(0));
}

// Calls the board posted since the last look, or a board that waits on a
// backlog this side has yet to serve, mean the module is not stuck: the
// watchdog counts from the module's calls, not from when they were served.
void Session::noteSignsOfLife(bool backlog) {
  const uint32_t tail = __atomic_load_n(&board_.wire().callTail, __ATOMIC_ACQUIRE);
  if (tail != seenTail_ || (backlog && board_.asleep())) lastCall_ = Clock::now();
  seenTail_ = tail;
}

// The next message's head, checked; false (the run ended) when the module wrote over the ring.
bool Session::nextMessage(uint32_t& head, uint32_t tail, WireMessage& message) {
  WireShared& wire = board_.wire();
  const uint32_t offset = head % WIRE_CALL_RING_BYTES, toEnd = WIRE_CALL_RING_BYTES - offset;
  const uint32_t waiting = tail - head;
  if (waiting > WIRE_CALL_RING_BYTES || waiting % 4 != 0) {
    fault("the ring's tail is out of its bounds");
    return false;
  }
  if (toEnd < kMessageBytes) {
    message.call = WIRE_PAD;
    return waiting >= toEnd || (fault("a message runs past the ring's end"), false);
  }
  std::memcpy(&message, wire.calls + offset, kMessageBytes);
  if (message.call == WIRE_PAD) {
    if (toEnd >= kLongestMessage || waiting < toEnd) {
      fault("a filler where a message fits");
      return false;
    }
    return true;
  }
  if (message.size > WIRE_MAX_PAYLOAD || kMessageBytes + padded(message.size) > toEnd ||
      waiting < kMessageBytes + padded(message.size)) {
    fault("a message's length is out of its bounds");
    return false;
  }
  return true;
}

bool Session::drain(size_t most, Clock::time_point until) {
  WireShared& wire = board_.wire();
  uint32_t head = ownHead_;
  bool more = false;
  for (size_t handled = 0; !over_; ++handled) {
    const uint32_t tail = __atomic_load_n(&wire.callTail, __ATOMIC_ACQUIRE);
    if (head == tail) break;
    if (handled == most || (handled % 16 == 0 && Clock::now() >= until)) {
      more = true;
      break;
    }
    WireMessage message;
    if (!nextMessage(head, tail, message)) break;
    const uint32_t offset = head % WIRE_CALL_RING_BYTES;
    if (message.call == WIRE_PAD) {
      head += WIRE_CALL_RING_BYTES - offset;
      ownHead_ = head;
      __atomic_store_n(&wire.callHead, head, __ATOMIC_RELEASE);
      continue;
    }
    const std::string payload(reinterpret_cast<const char*>(wire.calls + offset + kMessageBytes), message.size);
    head += kMessageBytes + padded(message.size);
    ownHead_ = head;
    __atomic_store_n(&wire.callHead, head, __ATOMIC_RELEASE);
    handle(message, payload);
    // A board that waits for room goes on as soon as half the ring is free,
    // so that it fills one half while this side drains the other.
    if (tail - head <= WIRE_CALL_RING_BYTES / 2) wakeForRoom();
  }
  if (!more && !over_) wakeForRoom();
  return more;
}

void Session::wakeForRoom() {
  WireShared& wire = board_.wire();
  if (__atomic_load_n(&wire.roomWanted, __ATOMIC_SEQ_CST) == 0) return;
  __atomic_store_n(&wire.roomWanted, 0u, __ATOMIC_SEQ_CST);
  ring();
}

void Session::handle(const WireMessage& message, std::string_view payload) {
  if (message.call >= WIRE_OSD_CREATE && message.call <= WIRE_FREAD_MORE) {
    if (!platformCall(message, payload)) fault("a call the board would not make");
    return;
  }
  boardReport(message, payload);
}

bool Session::platformCall(const WireMessage& m, std::string_view payload) {
  if (m.call <= WIRE_CHANNEL_START) return screenCall(m, payload);
  if (m.call >= WIRE_HDD_EXIST) return diskCall(m, payload);
  return systemCall(m, payload);
}

bool Session::screenCall(const WireMessage& m, std::string_view payload) {
  const uint32_t* a = m.arg;
  switch (m.call) {
    case WIRE_OSD_CREATE: answer({calls::osdCreate(rx_, a[0], a[1], a[2], a[3], a[4], a[5])}); return true;
    case WIRE_OSD_FILLBOX: calls::osdFillBox(rx_, a[0], a[1], a[2], a[3], a[4], a[5]); return true;
    case WIRE_OSD_PUTS: {
      const std::string text = textOf(payload);
      calls::osdPutS(rx_, a[0], a[1], a[2], a[3], a[10] != 0 ? nullptr : text.c_str(), a[4], a[5], a[6], a[7], a[8],
                     a[9]);
      return true;
    }
    case WIRE_OSD_SYNC: calls::osdSync(rx_, a[0]); return true;
    case WIRE_OSD_DELETE: calls::osdDelete(rx_, a[0]); return true;
    case WIRE_CHANNEL_GETCURRENT: {
      const auto [first, second] = calls::channelGetCurrent(rx_);
      answer({first, second});
      return true;
    }
    case WIRE_CHANNEL_STOP: calls::channelStop(rx_, a[0]); return true;
    case WIRE_CHANNEL_START: calls::channelStart(rx_, a[0], a[1], a[2]); return true;
    default: return false;
  }
}

void Session::turnCall(const uint32_t* a) {
  calls::systemProc(rx_);
  lastTurn_ = Clock::now();
  turnSeen_ = true;
  if (a[1] != 0) moduleRemoteType_ = static_cast<int32_t>(a[2]);
  if (a[0] != 0) {
    turnWaiting_ = true;
    turnAskedAt_ = lastTurn_;
  }
}

// The board sends the format and what came out of it; the length says where the text ends.
void Session::formatCall(const WireMessage& m, std::string_view payload) {
  const uint32_t* a = m.arg;
  const bool sprint = m.call == WIRE_SPRINT;
  const uint32_t length = sprint ? a[2] : a[0];
  const uint32_t wholeLength = a[2];  // a print's, of which `length` was shown
  const bool formatNull = (sprint ? a[3] : a[1]) != 0;
  const size_t split = payload.find('\0');
  const std::string_view formatted = split == std::string_view::npos ? std::string_view() : payload.substr(split + 1);
  const std::string shown(formatted.substr(0, std::min<size_t>(length, formatted.size())));
  const std::string format = textOf(payload);
  const char* formatOrNull = formatNull ? nullptr : format.c_str();
  if (sprint)
    calls::sprint(rx_, wide(a[0], a[1]), formatOrNull, shown);
  else
    calls::print(rx_, formatOrNull, shown, std::max<uint64_t>(wholeLength, shown.size()));
}

bool Session::systemCall(const WireMessage& m, std::string_view payload) {
  const uint32_t* a = m.arg;
  switch (m.call) {
    case WIRE_SYSTEMPROC: turnCall(a); return true;
    case WIRE_SPRINT:
    case WIRE_PRINT: formatCall(m, payload); return true;
    case WIRE_SLEEP: calls::sleep(rx_, a[0]); return true;
    case WIRE_MEMALLOC: answer({calls::memAlloc(rx_, a[0], wide(a[1], a[2])) ? 1u : 0u}); return true;
    case WIRE_MEMFREE: answer({calls::memFree(rx_, wide(a[0], a[1])) ? 1u : 0u}); return true;
    case WIRE_GETSYSTEMID: calls::getSystemId(rx_); return true;
    case WIRE_GETVERSION: calls::getVersion(rx_); return true;
    default: return false;
  }
}

void Session::sendRead(uint32_t result) {
  calls::readPiece(rx_, reading_, board_.wire().data, WIRE_DATA_BYTES);
  answer({result, static_cast<uint32_t>(reading_.bytes)});
}

bool Session::diskCall(const WireMessage& m, std::string_view payload) {
  const uint32_t* a = m.arg;
  const std::string text = textOf(payload);
  const char* name = a[0] != 0 ? nullptr : text.c_str();
  switch (m.call) {
    case WIRE_HDD_EXIST: answer({static_cast<uint32_t>(calls::hddExist(rx_, name))}); return true;
    case WIRE_HDD_FOPEN: answer({calls::hddFopen(rx_, name)}); return true;
    case WIRE_HDD_FLEN: answer({calls::hddFlen(rx_, wide(a[0], a[1]))}); return true;
    case WIRE_HDD_FREAD:
      sendRead(calls::hddFread(rx_, wide(a[0], a[1]), a[2], a[3], wide(a[4], a[5]), reading_));
      return true;
    case WIRE_FREAD_MORE:
      // The pieces of one read are asked for in order, each once.
      if (a[0] != reading_.done || reading_.done >= reading_.bytes) return false;
      sendRead(0);
      return true;
    case WIRE_HDD_FCLOSE: calls::hddFclose(rx_, wide(a[0], a[1])); return true;
    case WIRE_HDD_CHANGEDIR: {
      const uint32_t result = calls::hddChangeDir(rx_, name);
      const bool moved = name != nullptr && result == rx_.settings.changeDirSuccess;
      if (moved) {
        const std::string dir = rx_.disk.currentDir().substr(0, WIRE_DATA_BYTES - 1);
        std::memcpy(board_.wire().data, dir.c_str(), dir.size() + 1);
      }
      answer({result, moved ? 1u : 0u});
      return true;
    }
    default: return false;
  }
}

void Session::noteRefused(std::string_view payload) {
  constexpr size_t kLongest = 160, kMostTold = 20;
  std::string call = visibleBytes(textOf(payload).substr(0, kLongest));
  if (std::find(refused_.begin(), refused_.end(), call) != refused_.end()) return;
  if (refused_.size() < kMostTold)
    refused_.push_back(std::move(call));
  else
    ++refusedUntold_;
}

void Session::boardReport(const WireMessage& m, std::string_view payload) {
  const uint32_t* a = m.arg;
  switch (m.call) {
    case WIRE_HELLO: {
      if (std::exchange(helloSeen_, true)) return fault("the board said hello twice");
      const std::string dir = rx_.disk.currentDir().substr(0, WIRE_DATA_BYTES - 1);
      std::memcpy(board_.wire().data, dir.c_str(), dir.size() + 1);
      pointerBytes_ = a[0];
      answer({0});
      return;
    }
    case WIRE_LOADED: {
      if (std::exchange(loadedSeen_, true)) return fault("the module was loaded twice");
      ModuleRecords records;
      std::vector<std::string> texts;
      size_t at = 0;
      while (at <= payload.size() && texts.size() < 6) {
        const size_t end = std::min(payload.find('\0', at), payload.size());
        texts.emplace_back(payload.substr(at, end - at));
        at = end + 1;
      }
      texts.resize(6);
      records.header = texts[0];
      records.headerValue = a[0];
      records.applicationId = a[1];
      records.name = texts[1];
      records.version = texts[2];
      records.author = texts[3];
      records.description = texts[4];
      records.buildDate = texts[5];
      moduleBase_ = wide(a[2], a[3]);
      if (onLoaded) onLoaded(records);
      return;
    }
    case WIRE_LOAD_FAILED: loadFailure_ = textOf(payload); return;
    case WIRE_EVENT:
      if (rx_.keysDelivered >= keysPushed_) return fault("a key was delivered that was never pressed");
      calls::event(rx_, a[0], a[1], a[2]);
      return;
    case WIRE_EVENT_RESULT: calls::eventResult(rx_, a[0], a[1], a[2], a[3]); return;
    case WIRE_MAIN_STARTED: lastTurn_ = Clock::now(); return;
    case WIRE_MAIN_RETURNED: moduleResult = static_cast<int32_t>(a[0]); return;
    case WIRE_KEY_HANDLING:
      keyHandling = "keys: ";
      keyHandling += a[0] == WIRE_HANDLER_OWN    ? "the module's own handler takes them"
                     : a[0] == WIRE_HANDLER_HOOK ? "the key translation hook is in place"
                                                 : "another handler sits in the module's entry";
      if (a[1] != 0) keyHandling += ", remote type " + std::to_string(static_cast<int32_t>(a[2]));
      return;
    case WIRE_PTS_WRITE: calls::terminalWritten(rx_, a[0], payload); return;
    case WIRE_EXIT: exited_ = {static_cast<int>(a[0]), a[1]}; return;
    case WIRE_CRASH:
      crash_ = Fault{.signal = hostSignal(a[0]),
                     .address = wide(a[1], a[2]),
                     .pc = wide(a[4], a[5]),
                     .sp = wide(a[6], a[7]),
                     .ra = wide(a[8], a[9]),
                     .stackAt = wide(a[10], a[11]),
                     .stack = std::string(payload),
                     .stackCut = payload.size() >= static_cast<size_t>(WIRE_MAX_PAYLOAD)};
      return;
    case WIRE_STOPPED: stalled = true; return;
    case WIRE_AWAITING_DEBUGGER:
      awaitingDebugger_ = true;
      if (onAwaitingDebugger) onAwaitingDebugger();
      return;
    case WIRE_DEBUGGER_ATTACHED:
      awaitingDebugger_ = false;
      debuggerAttached_ = true;
      return;
    case WIRE_REFUSED: noteRefused(payload); return;
    default: fault("a message the board never sends");
  }
}

// The board's place in the key ring, checked: it lies between where it was and what was pushed.
std::optional<uint32_t> Session::keyHead() {
  const uint32_t head = __atomic_load_n(&board_.wire().eventHead, __ATOMIC_ACQUIRE);
  if (head - keyHead_ > ownKeyTail_ - keyHead_) {
    fault("the key ring's head is out of its bounds");
    return std::nullopt;
  }
  keyHead_ = head;
  return head;
}

bool Session::keysQueued() const { return ownKeyTail_ != keyHead_; }

void Session::pushKeys() {
  // Keys are translated with the remote type the module settled on, which it
  // has done by its first turn.
  if (!turnSeen_ || over_) return;
  WireShared& wire = board_.wire();
  const auto head = keyHead();
  if (!head) return;
  const Remote now = remote();
  while (!keys_.empty() && ownKeyTail_ - *head < WIRE_EVENT_SLOTS) {
    wire.events[ownKeyTail_ % WIRE_EVENT_SLOTS] = WireEvent{TAP_EVENT_KEY, now.code(keys_.front()), 0};
    keys_.pop_front();
    ++ownKeyTail_;
    ++keysPushed_;
  }
  // Written every time: a tail the module moved is put back.
  __atomic_store_n(&wire.eventTail, ownKeyTail_, __ATOMIC_RELEASE);
}

void Session::settleTurn() {
  if (over_ || !keyHead()) return;
  const bool queued = keysQueued();
  const auto now = Clock::now();
  const bool ranOut = keysEnded_ && keys_.empty() && !queued;
  if (!ranOut) idleSince_.reset();
  else if (!idleSince_ && (turnWaiting_ || !limits_.debugger)) idleSince_ = now;
  if (!turnWaiting_) return;
  if (queued) {
    turnWaiting_ = false;
    answer({WIRE_TURN_EVENT});
    return;
  }
  if (ranOut && idleSince_ && now - *idleSince_ >= limits_.idleLimit) {
    turnWaiting_ = false;
    answer({WIRE_TURN_STOP});
    return;
  }
  // Without a key the module's loop still turns, at a pace that costs nothing.
  const auto pause = ranOut ? limits_.idleTurn : std::chrono::milliseconds(10);
  if (now - turnAskedAt_ >= pause) {
    turnWaiting_ = false;
    answer({WIRE_TURN_NONE});
  }
}

void Session::watch() {
  if (over_ || limits_.debugger) return;
  const auto now = Clock::now();
  const auto seconds = std::to_string(limits_.watchdog.count());
  if (limits_.watchdog.count() != 0 && now - lastCall_ >= limits_.watchdog && !turnWaiting_) {
    killedFor_ = "the module stopped calling the platform for " + seconds + " s (an endless loop?)";
    killedCode_ = kRunHung;
  } else if (limits_.watchdog.count() != 0 && now - lastTurn_ >= limits_.watchdog && !turnWaiting_ &&
             (!keys_.empty() || keysQueued())) {
    killedFor_ = "the module has not given the platform its turn (TAP_SystemProc) for " + seconds +
                 " s while keys were waiting";
    killedCode_ = kRunHung;
  } else if (idleSince_ && now - *idleSince_ >= limits_.idleLimit + std::chrono::milliseconds(500) &&
             !turnWaiting_) {
    killedFor_ = "the keys ran out and the module is still running";
    killedCode_ = kRunStalled;
  } else {
    return;
  }
  int status = 0;
  if (killedCode_ == kRunHung) askWhereItIsStuck(status);
  board_.kill();
  board_.ended(status);
  finish(status);
}

// The board answers SIGXCPU with its registers and stack, as for a fault, and
// ends; a module that blocks signals gets no say and is killed all the same.
void Session::askWhereItIsStuck(int& status) {
  if (board_.pid() <= 0) return;
  kill(board_.pid(), SIGXCPU);
  // The answer may wait for room in the ring, which the module may have filled.
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  while (Clock::now() < deadline && !board_.ended(status) && !over_) {
    drain(kMostCallsPerStep, deadline);
    pollfd ended{board_.exitWatch(), POLLIN, 0};
    poll(&ended, board_.exitWatch() >= 0 ? 1 : 0, 5);
  }
}

std::string Session::stuckPlace() {
  if (!crash_ || crash_->signal != SIGXCPU || !moduleBase_) return {};
  const CrashPlaces places = crashPlaces();
  details_.clear();
  for (const auto& caller : places.callers) details_.push_back("called from " + caller);
  if (places.where.empty()) return {};
  return (places.inModule ? ", in " : ", outside the module, called from ") + places.where;
}

CrashPlaces Session::crashPlaces() {
  CrashPlaces places;
  const auto reader = LoadedPart::load(crashReader, kLocateCrashEntry, readerError_);
  if (!reader) return places;
  reader->entry<LocateCrashEntry>()(&module_, *moduleBase_, pointerBytes_, &*crash_, &places);
  return places;
}

void Session::stop(const std::string& why) {
  if (over_) return;
  killedFor_ = why;
  killedCode_ = kRunFailed;
  board_.kill();
  int status = 0;
  board_.ended(status);
  // Nobody reads what the module said last: the run was stopped.
  finish(status, std::chrono::milliseconds(0));
}

void Session::end(int code, const std::string& verdict, bool summary) {
  if (over_) return;
  over_ = true;
  exitCode_ = code;
  verdict_ = verdict;
  summaryWanted_ = summary;
}

void Session::finish(int status, std::chrono::milliseconds lastCallsTime) {
  // What the board said before it ended, as far as there is time for it.
  if (drain(SIZE_MAX, Clock::now() + lastCallsTime))
    notes_.push_back("the run ended before the platform had served all of the module's calls");
  if (over_) return;
  if (!killedFor_.empty()) {
    const std::string verdict = killedFor_ + stuckPlace();
    if (!readerError_.empty()) return end(kRunEnvironment, readerError_, false);
    return end(killedCode_, verdict, killedCode_ != kRunFailed);
  }
  // gdb's kill: gdbserver sends SIGKILL, qemu's stub exits with 0; neither leaves the board a word.
  const bool killedUnseen = WIFSIGNALED(status) ? WTERMSIG(status) == SIGKILL && !crash_ : WEXITSTATUS(status) == 0;
  if (limits_.debugger && killedUnseen && !moduleResult) return end(kRunFailed, "the debugger ended the run", false);
  if (WIFSIGNALED(status)) {
    const std::string verdict = crashLine(WTERMSIG(status));
    if (!readerError_.empty()) return end(kRunEnvironment, readerError_, false);
    return end(kRunCrashed, verdict, true);
  }
  const int code = WEXITSTATUS(status);
  if (code == WIRE_BOARD_LOAD_FAILED && !loadFailure_.empty()) return end(kRunBadModule, loadFailure_, false);
  if (code == WIRE_BOARD_EXITED && exited_)
    return end(kRunModuleExited,
               "the module called " + std::string(exitName(exited_->second)) + "(" + std::to_string(exited_->first) + ")",
               true);
  if (code == WIRE_BOARD_STOPPED && stalled) return end(kRunStalled, "", true);
  if (code == WIRE_BOARD_OK && moduleResult) return end(kRunOk, "", true);
  if (code == 127) return end(kRunFailed, "the board could not be started", false);
  end(kRunModuleExited,
      "the module's process ended with code " + std::to_string(code) + " before its main function returned", true);
}

// The signal, the address, and where in the module's source: the faulting
// instruction's function and line (for abort(), the call of it), then the
// calls above it as detail lines.
std::string Session::crashLine(int signal) {
  std::string line = "the module crashed: " + signalName(signal) + " (" + strsignal(signal) + ")";
  if (!crash_ || crash_->signal != signal) return signal == SIGABRT ? line + ": it called abort()" : line;
  CrashPlaces places;
  if (moduleBase_) places = crashPlaces();
  details_.clear();
  for (const auto& caller : places.callers) details_.push_back("called from " + caller);
  if (signal == SIGABRT) {
    line += ": it called abort()";
    return places.where.empty() ? line : line + " in " + places.where;
  }
  line += " at address " + hex(crash_->address);
  if (isStackOverflow(*crash_)) line += ", a stack overflow";
  if (places.where.empty()) return line;
  return line + (places.inModule ? ", in " : ", outside the module, called from ") + places.where;
}

}  // namespace tapsim
