// tapsim: runs a TAP module in a simulated receiver and shows or saves what it draws.
// This process is the host: the platform, the screen, the disk and the
// watchdog; the module runs beside a small board in a process of its own.
#include <elf.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "elfmodule.h"
#include "firmware/summary.h"
#include "debugger.h"
#include "interactive.h"
#include "options.h"
#include "outputs.h"
#include "session.h"
#include "quarnel_version.h"
#include "setup.h"

namespace tapsim {
namespace {

volatile sig_atomic_t requestedStop = 0;
// How long gdbserver may take to tell its debugger that the run is over.
constexpr std::chrono::seconds kDebuggerGoodbye{5};

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "tapsim: %s\n", message.c_str());
  return code;
}

// An interrupt, terminate or hang-up signal ends the run the ordinary way, so
// that it tidies up after itself (the board, the fresh disk above all).
void stopOnSignals() {
  struct sigaction action {};
  action.sa_handler = [](int signal) { requestedStop = signal; };
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

std::string describeFileError(const std::filesystem::path& file) {
  std::error_code ec;
  [[maybe_unused]] const auto status = std::filesystem::status(file, ec);
  return ec ? ec.message() : "not found";
}

// The same reader as tapcheck: nothing reaches the loader that it refuses.
// `environment`: the reader lacks a library of this machine's, the file is not at fault.
std::optional<tapelf::ModuleReport> checkModule(const std::filesystem::path& file, std::string& error,
                                                bool& environment) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    error = ec && ec != std::errc::no_such_file_or_directory
                ? "cannot open the module " + file.string() + ": " + describeFileError(file)
                : "no such module file: " + file.string();
    return std::nullopt;
  }
  auto inspection = tapelf::inspect(file);
  if (!inspection) {
    error = inspection.error;  // already names the file
    environment = inspection.environment;
    return std::nullopt;
  }
  const tapelf::Rules rules = tapelf::rulesFor(*inspection.report);
  // Without its receiver part a MIPS module cannot run at all, which missingBoard() says.
  const auto library = rules == tapelf::Rules::receiver ? tapelf::readSystemLibrary(receiverSysroot())
                                                        : tapelf::SystemLibrary{};
  if (!library.error.empty()) return inspection.report;
  const auto problems = tapelf::problems(*inspection.report, rules, library);
  if (!problems.empty()) {
    error = file.string() + ": " + problems.front();
    return std::nullopt;
  }
  return inspection.report;
}

void settleBoard(WireShared& settings, const RunOptions& run, bool awaitDebugger) {
  settings.awaitDebugger = awaitDebugger ? 1 : 0;
  settings.systemId = run.receiver.systemId;
  settings.firmwareVersion = run.receiver.firmwareVersion;
  settings.openTerminals = static_cast<uint32_t>(run.openTerminals.to_ulong());
  settings.staleDlerror = run.staleDlerror ? 1 : 0;
  settings.memoryLimit = static_cast<uint32_t>(std::min<uint64_t>(run.receiver.memoryLimit, 0xFFFFFFFFu));
}

SessionLimits limitsOf(const FrontOptions& options) {
  SessionLimits limits;
  limits.idleLimit = options.run.idleLimit;
  limits.watchdog = std::chrono::seconds(options.run.watchdogSeconds);
  limits.debugger = options.gdbPort.has_value();
  return limits;
}

// On stderr, with the notes, where the person who asked for a debugger looks:
// stdout is the run's report and may well go to a file.
void announceDebugger(const DebugTarget& target) {
  std::fprintf(stderr, "tapsim: waiting on port %u for a debugger, %s; attach with:\n%s\n", unsigned{target.port},
               target.receiver ? "before the board's first instruction (qemu's stub)"
                               : "before the module's start-up entry (gdbserver)",
               debuggerCommand(target).c_str());
  std::fflush(stderr);
}

// The PC build waits for gdbserver to attach; a MIPS run's qemu is its own stub.
struct Debugging {
  DebugTarget target;
  std::filesystem::path gdbserver;
  std::optional<DebugServer> server;
};

std::optional<Debugging> prepareDebugging(const tapelf::ModuleReport& report, const FrontOptions& options,
                                          std::string& error) {
  if (!options.gdbPort || !portFree(*options.gdbPort, error)) return std::nullopt;
  Debugging debugging{debugTarget(report, options), {}, {}};
  if (debugging.target.receiver) return debugging;
  debugging.gdbserver = findProgram("gdbserver");
  if (debugging.gdbserver.empty()) {
    error = "gdbserver is not installed; --gdb with a PC module needs it (Debian package gdbserver)";
    return std::nullopt;
  }
  return debugging;
}

// A MIPS run's stub waits already; a PC run's board asks for gdbserver once the module is loaded.
void serveDebugger(Session& session, const BoardProcess& board, Debugging& debugging, std::string& frontError) {
  if (debugging.target.receiver) {
    announceDebugger(debugging.target);
    return;
  }
  session.onAwaitingDebugger = [&debugging, &frontError, pid = board.pid()] {
    if (debugging.server) return;
    debugging.server = DebugServer::attach(debugging.gdbserver, debugging.target.port, pid, frontError);
    if (debugging.server) announceDebugger(debugging.target);
  };
}

bool boardEnded(const BoardProcess& board) {
  pollfd ended{board.exitWatch(), POLLIN, 0};
  return board.exitWatch() >= 0 && poll(&ended, 1, 0) > 0;
}

// Without its server the waiting board would wait for ever. A board that
// ended with it was killed by the debugger, which the session says.
void noticeLostDebugServer(const Session& session, const BoardProcess& board, Debugging& debugging,
                           std::string& frontError) {
  if (debugging.server && session.awaitingDebugger() && debugging.server->ended() && !boardEnded(board))
    frontError = "gdbserver ended before a debugger attached";
}

// A PC build may import what the receiver's C library lacks (glibc's fortified
// calls, say): it runs here, and the author hears that its receiver build would
// not load. Without the receiver part there is nothing to compare with.
std::vector<std::string> receiverWarnings(const tapelf::ModuleReport& report) {
  if (tapelf::rulesFor(report) == tapelf::Rules::receiver) return {};
  const tapelf::SystemLibrary library = tapelf::readSystemLibrary(receiverSysroot());
  if (!library.error.empty()) return {};
  // What a sanitizer or a coverage build adds to the PC build is never in the receiver's.
  constexpr std::string_view kInstrumentation[] = {"__asan_",  "__ubsan_", "__lsan_", "__msan_",
                                                   "__tsan_",  "__hwasan_", "__sanitizer_", "__gcov_"};
  std::vector<std::string> warnings;
  for (const auto& name : tapelf::importsTheReceiverLacks(report, library))
    if (std::ranges::none_of(kInstrumentation, [&](std::string_view prefix) { return name.starts_with(prefix); }))
      warnings.push_back("this PC build imports " + name +
                       ", which the receiver's C library does not have: its receiver build would not load");
  return warnings;
}

void printSummary(const Receiver& receiver, const Session& session, const Confinement& confinement,
                  const std::vector<std::string>& warnings) {
  RunOutcome outcome;
  outcome.warnings = warnings;
  outcome.sandbox = confinement.describe();
  outcome.refusedCalls = session.refusedCalls();
  outcome.refusedUntold = session.refusedUntold();
  outcome.moduleResult = session.moduleResult;
  outcome.stalled = session.stalled;
  outcome.keyHandling = session.keyHandling;
  if (!session.verdict().empty()) outcome.endings.push_back(session.verdict());
  outcome.endings.insert(outcome.endings.end(), session.notes().begin(), session.notes().end());
  const Summary summary = summarise(receiver, outcome);
  for (const auto& line : summary.lines) std::printf("%s\n", line.c_str());
  if (summary.problems.empty()) std::printf("problems: none\n");
  for (const auto& problem : summary.problems) std::printf("problem: %s\n", problem.c_str());
  std::fflush(stdout);
}

// Keys go in until the run is over: from the window, or all of the script at once.
void drive(Session& session, Window* window, const FrontOptions& options, const std::function<bool()>& stopRequested) {
  if (window != nullptr) {
    runInWindow(session, *window, options.keys, stopRequested);
    return;
  }
  for (const RemotePress& press : options.keys.value_or(std::vector<RemotePress>{})) session.press(press);
  session.endKeys();
  while (session.step(std::chrono::milliseconds(10)))
    if (stopRequested()) break;
}

// A window opens when one may and a display is there.
bool windowWanted(const FrontOptions& options) { return !options.headless && std::getenv("DISPLAY") != nullptr; }

// What was made before the board starts: the checked module, the outputs, the disk.
struct Prepared {
  Outputs outputs;
  std::optional<LoadedPart> windowPart;  // outlives the window it opens
  std::unique_ptr<RunDisk> disk;
  std::vector<std::string> command;
  Confinement confinement;
  std::optional<Debugging> debugging;
  tapelf::ModuleReport report;
  std::vector<std::string> warnings;
  explicit Prepared(const FrontOptions& options) : outputs(options) {}
};

int prepare(FrontOptions& options, Prepared& run) {
  std::string error;
  bool environment = false;
  const auto report = checkModule(options.module, error, environment);
  if (!report) return fail(environment ? kRunEnvironment : kRunBadModule, error);
  run.report = *report;
  if (!run.outputs.open(error)) return fail(kRunUsage, error);
  for (const auto& note : options.notes) std::fprintf(stderr, "tapsim: note: %s\n", note.c_str());
  for (const auto& note : run.outputs.notes()) std::fprintf(stderr, "tapsim: note: %s\n", note.c_str());
  if (const auto missing = missingBoard(*report)) return fail(kRunEnvironment, *missing);
  // Any run may need a crash report; it is looked for now, and loaded only for one.
  if (const auto missing = missingPart(partFile(kCrashReader))) return fail(kRunEnvironment, *missing);
  if (windowWanted(options)) {
    run.windowPart = LoadedPart::load(partFile(kWindowPart), kOpenWindowEntry, error);
    if (!run.windowPart) return fail(kRunEnvironment, error);
  }
  run.command = boardCommand(*report, options, error);
  if (run.command.empty()) return fail(kRunBadModule, error);
  run.debugging = prepareDebugging(*report, options, error);
  if (options.gdbPort && !run.debugging) return fail(kRunFailed, error);
  // qemu's stub listens on the debugger's port from within the confinement; gdbserver is outside it.
  const bool stub = options.gdbPort && report->machine == EM_MIPS;
  run.confinement = Confinement::plan(run.command, options.module, stub ? options.gdbPort : std::nullopt,
                                      options.sandbox);
  if (options.sandbox == SandboxMode::required && !run.confinement.complete())
    return fail(kRunFailed, "--require-sandbox: the module would not be confined (" + run.confinement.describe() + ")");
  return kRunOk;
}

// The run's disk, made while the board starts: only the host reaches it.
int prepareRunDisk(FrontOptions& options, Prepared& run) {
  std::string error;
  bool environment = false;
  run.disk = prepareDisk(options, error, environment);
  if (!run.disk) return fail(environment ? kRunEnvironment : kRunUsage, error);
  options.run.receiver.diskRoot = run.disk->root();
  return kRunOk;
}

int conclude(Prepared& run, Session& session, const Receiver& receiver, const std::string& frontError) {
  // An interrupted or failed run leaves no output that looks whole: the
  // trace and the outputs of an earlier run stay as they were.
  if (requestedStop != 0 || !frontError.empty() || session.exitCode() == kRunFailed) run.outputs.abandon();
  if (!frontError.empty()) return fail(kRunFailed, frontError);
  if (!session.verdict().empty()) std::fprintf(stderr, "tapsim: %s\n", session.verdict().c_str());
  for (const auto& detail : session.verdictDetails()) std::fprintf(stderr, "tapsim:   %s\n", detail.c_str());
  if (requestedStop != 0) return 128 + requestedStop;
  if (session.summaryWanted()) printSummary(receiver, session, run.confinement, run.warnings);
  std::string error;
  if (!run.outputs.finish(error)) return fail(kRunFailed, error);
  for (const auto& line : run.outputs.report()) std::printf("%s\n", line.c_str());
  if (run.disk->kept()) std::printf("disk kept at %s\n", run.disk->root().c_str());
  return session.exitCode();
}

int run(FrontOptions& options) {
  Prepared prepared(options);
  if (const int code = prepare(options, prepared); code != kRunOk) return code;

  std::unique_ptr<Window> window;
  std::unique_ptr<Session> session;
  std::string frontError;
  ReceiverOutput output;
  output.trace = prepared.outputs.trace();
  // A screen nobody looks at is not composed: a module's syncs cost the host next to nothing.
  output.framesWanted = [&] { return window != nullptr || prepared.outputs.wantsFrames(); };
  output.onSync = [&](const Frame& frame, uint32_t page) {
    if (!frontError.empty() || !prepared.outputs.add(frame, frontError) || !window) return;
    window->present(frame);
    window->setTitle(windowTitle(session->remote(), page));
    if (!options.windowCaptures.empty())
      saveCapture(*window, prepared.outputs.captureFile(prepared.outputs.count()), frontError);
  };

  std::string error;
  Debugging* debugging = prepared.debugging ? &*prepared.debugging : nullptr;
  const bool boardAwaitsDebugger = debugging != nullptr && !debugging->target.receiver;
  ModuleFile loaded(options.module);  // before the board loads it: the crash report reads this one
  auto board = BoardProcess::start(
      prepared.command, prepared.confinement, prepared.confinement.environment(options.moduleEnvironment),
      [&](WireShared& settings) { settleBoard(settings, options.run, boardAwaitsDebugger); }, error);
  if (!board) return fail(kRunFailed, error);
  // While the board starts on the other processor: the disk, the receiver, what earlier runs left.
  if (const int code = prepareRunDisk(options, prepared); code != kRunOk) return code;
  prepared.warnings = receiverWarnings(prepared.report);
  Receiver receiver(options.run.receiver, output);
  receiver.disk.changeDir("/ProgramFiles");  // where the firmware keeps its modules
  const uint32_t model = options.run.receiver.systemId;
  const Remote fallback{model, remoteTypeOnDisk(prepared.disk->root(), model, options.run.receiver.memoryLimit)};
  endAbandonedRuns();
  session = std::make_unique<Session>(receiver, *board, fallback, limitsOf(options), std::move(loaded));
  session->onLoaded = [](const ModuleRecords& records) {
    std::printf("%s\n", describeModule(records).c_str());
    std::fflush(stdout);
  };
  session->onPress = [&](RemotePress press) { prepared.outputs.pressed(press); };
  session->crashReader = partFile(kCrashReader);
  if (debugging != nullptr) serveDebugger(*session, *board, *debugging, frontError);
  if (prepared.windowPart) {
    window.reset(prepared.windowPart->entry<OpenWindowEntry>()(windowTitle(fallback, 0).c_str(), &error));
    if (!window) std::fprintf(stderr, "tapsim: no window (%s); running headless\n", error.c_str());
  } else if (!options.headless && !options.windowCaptures.empty()) {
    std::fprintf(stderr, "tapsim: note: --window-captures has no effect without a display (DISPLAY is not set): "
                         "no window opens\n");
  }
  if (!window) prepared.outputs.dropCaptures();
  // No call is served before this: screens nobody will see are not drawn.
  receiver.screen.keepPixels(output.framesWanted());
  drive(*session, window.get(), options, [&] {
    if (debugging != nullptr) noticeLostDebugServer(*session, *board, *debugging, frontError);
    return requestedStop != 0 || !frontError.empty();
  });
  if (requestedStop != 0) session->stop(std::string("stopped by ") + strsignal(requestedStop));
  else if (!frontError.empty()) session->stop(frontError);
  board.reset();
  // gdbserver learns of the board's end before tapsim does, and tells its
  // debugger after; ended at once, the debugger would see a lost connection.
  if (debugging != nullptr && debugging->server)
    debugging->server->finish(session->debuggerAttached() ? kDebuggerGoodbye : std::chrono::milliseconds(0));
  endDescendants();
  return conclude(prepared, *session, receiver, frontError);
}

}  // namespace
}  // namespace tapsim

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  tapsim::FrontOptions options;
  std::string error;
  switch (tapsim::parseFrontOptions(args, options, error)) {
    case tapsim::ParseResult::Help:
      std::printf("%s%s", tapsim::helpText().c_str(), tapsim::windowKeysHelp().c_str());
      return 0;
    case tapsim::ParseResult::Version:
      std::printf("tapsim %s\n", QUARNEL_VERSION);
      return 0;
    case tapsim::ParseResult::Error:
      return tapsim::fail(tapsim::kRunUsage, error);
    case tapsim::ParseResult::Run:
      break;
  }
  tapsim::stopOnSignals();
  tapsim::becomeRunOwner();
  return tapsim::run(options);
}
