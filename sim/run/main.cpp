// tapsim-run: the simulated receiver itself. Loads one module and runs it;
// keys come in on one descriptor, synced screens go out on another. The
// front end `tapsim` starts it, natively or under qemu for a MIPS module.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/loader.h"
#include "firmware/pts.h"
#include "firmware/receiver.h"
#include "platform/runoptions.h"
#include "firmware/summary.h"
#include "firmware/tasktable.h"

namespace tapsim {
namespace {

// Exit codes shared with the front end.
enum Exit { kOk = 0, kUsage = 2, kLoadFailed = 3, kStalled = 4, kCrashed = 5, kHung = 6 };

// Counts the module's visits to the platform, for the watchdog.
std::atomic<uint32_t> progress{0};  // lock-free, so the alarm handler may read it

// Key words arrive as text lines ("0x10045\n"); end of file ends the script.
class DescriptorKeys : public KeySource {
 public:
  explicit DescriptorKeys(int fd) : fd_(fd) {}
  std::optional<uint32_t> next() override {
    progress.fetch_add(1, std::memory_order_relaxed);
    if (auto key = takeLine()) return key;
    if (finished_ || fd_ < 0) return std::nullopt;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 10) <= 0) return std::nullopt;
    char chunk[256];
    const ssize_t got = read(fd_, chunk, sizeof chunk);
    if (got <= 0) {
      finished_ = true;
      return std::nullopt;
    }
    pending_.append(chunk, static_cast<size_t>(got));
    return takeLine();
  }
  bool finished() const override { return fd_ < 0 || (finished_ && pending_.empty()); }

 private:
  std::optional<uint32_t> takeLine() {
    const size_t end = pending_.find('\n');
    if (end == std::string::npos) return std::nullopt;
    const std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 1);
    uint32_t key = 0;
    const char* first = line.data();
    if (line.starts_with("0x")) first += 2;
    std::from_chars(first, line.data() + line.size(), key, 16);
    return key;
  }
  int fd_;
  std::string pending_;
  bool finished_ = false;
};

void writeAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t done = write(fd, bytes, size);
    if (done <= 0) return;  // the front end went away; nothing left to show to
    bytes += done;
    size -= static_cast<size_t>(done);
  }
}

// --- faults inside the module -------------------------------------------

void writeText(const char* text) { [[maybe_unused]] auto ignored = write(2, text, strlen(text)); }

void writeHex(uintptr_t value) {
  char digits[2 + 2 * sizeof value + 1];
  size_t at = sizeof digits - 1;
  digits[at] = '\0';
  do {
    digits[--at] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  digits[--at] = 'x';
  digits[--at] = '0';
  writeText(digits + at);
}

void onFault(int signal, siginfo_t* info, void*) {
  writeText("tapsim: the module crashed: ");
  writeText(strsignal(signal));
  writeText(" at address ");
  writeHex(reinterpret_cast<uintptr_t>(info->si_addr));
  writeText("\n");
  _exit(kCrashed);
}

void installFaultHandlers() {
  struct sigaction action {};
  action.sa_sigaction = onFault;
  action.sa_flags = SA_SIGINFO | SA_RESETHAND;
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(signal, &action, nullptr);
}

// A module that never again gives the platform its turn would hang us.
void startWatchdog(unsigned seconds) {
  if (seconds == 0) return;
  struct sigaction action {};
  action.sa_handler = [](int) {
    static uint32_t seen = 0xFFFFFFFFu;
    const uint32_t now = progress.load(std::memory_order_relaxed);
    if (seen == now) {
      writeText("tapsim: the module stopped calling the platform (endless loop or abort)\n");
      _exit(kHung);
    }
    seen = now;
  };
  sigaction(SIGALRM, &action, nullptr);
  const auto period = static_cast<time_t>(seconds);
  itimerval timer{{period, 0}, {period, 0}};
  setitimer(ITIMER_REAL, &timer, nullptr);
}

std::string terminalWrites() {
  std::string text;
  for (int n = 0; n < pts::kTerminalCount; ++n) {
    const std::string bytes = pts::written(n);
    if (bytes.empty()) continue;
    if (!text.empty()) text += "; ";
    text += "/dev/pts/" + std::to_string(n) + " got \"" + pts::visible(bytes) + "\"";
  }
  return text;
}

// Whether the module's entry still holds its own handler, and which remote
// type its support library settled on, where the module says so.
std::string keyHandling(const LoadedModule& module) {
  auto* const entryHandler = reinterpret_cast<void*>(moduleEntry().handler);
  std::string line = "keys: ";
  if (entryHandler == reinterpret_cast<void*>(module.handler()))
    line += "the module's own handler takes them";
  else if (entryHandler != nullptr && entryHandler == module.symbol("KeyTranslateHook"))
    line += "the key translation hook is in place";
  else
    line += "another handler sits in the module's entry";
  if (const auto* remoteType = static_cast<const int32_t*>(module.symbol("RemoteType")))
    line += ", remote type " + std::to_string(*remoteType);
  return line;
}

void printSummary(const Summary& summary) {
  for (const auto& line : summary.lines) std::printf("%s\n", line.c_str());
  if (summary.problems.empty()) {
    std::printf("problems: none\n");
  } else {
    for (const auto& problem : summary.problems) std::printf("problem: %s\n", problem.c_str());
  }
  std::fflush(stdout);
}

int run(const RunOptions& options) {
  DescriptorKeys keys(options.keyFd);
  ReceiverOutput output;
  uint64_t frameNumber = 0;
  LoadedModule* module = nullptr;
  output.onSync = [&](const Frame& frame) {
    progress.fetch_add(1, std::memory_order_relaxed);
    if (options.frameFd < 0) return;
    ++frameNumber;
    const auto* page = module ? static_cast<const uint16_t*>(module->symbol("pagenumber")) : nullptr;
    const std::string header = "FRAME " + std::to_string(frameNumber) + " " +
                               std::to_string(kScreenWidth) + " " + std::to_string(kScreenHeight) +
                               " " + std::to_string(page ? *page : 0) + "\n";
    writeAll(options.frameFd, header.data(), header.size());
    writeAll(options.frameFd, frame.data(), frame.size() * sizeof(uint32_t));
  };
  std::unique_ptr<std::FILE, decltype(&std::fclose)> trace(nullptr, &std::fclose);
  if (!options.tracePath.empty()) {
    trace.reset(std::fopen(options.tracePath.c_str(), "w"));
    if (!trace) {
      std::fprintf(stderr, "tapsim: cannot write the trace to %s: %s\n", options.tracePath.c_str(),
                   std::strerror(errno));
      return kUsage;
    }
  }
  output.trace = trace.get();

  Receiver receiver(options.receiver, output, keys);
  receiver.idleLimit = options.idleLimit;
  pts::setOpenable(options.openTerminals);
  receiver.changeDir("/ProgramFiles");  // where the firmware keeps its modules

  // The module's own code first runs inside the load, in its start-up entry.
  installFaultHandlers();
  startWatchdog(options.watchdogSeconds);
  std::string error;
  auto loaded = LoadedModule::load(options.module, error);
  if (!loaded) {
    std::fprintf(stderr, "tapsim: %s\n", error.c_str());
    return kLoadFailed;
  }
  module = loaded.get();
  std::printf("%s\n", describeModule(module->records()).c_str());
  std::fflush(stdout);
  moduleEntry().handler = module->handler();

  RunOutcome outcome;
  receiver.output.onStalled = [&] {
    outcome.stalled = true;
    outcome.pseudoTerminals = terminalWrites();
    outcome.keyHandling = keyHandling(*module);
    printSummary(summarise(receiver, outcome));
    std::fflush(nullptr);
    _exit(kStalled);
  };
  outcome.moduleResult = module->main()();
  startWatchdog(0);
  outcome.pseudoTerminals = terminalWrites();
  outcome.keyHandling = keyHandling(*module);
  printSummary(summarise(receiver, outcome));
  pts::reset();
  return kOk;
}

}  // namespace
}  // namespace tapsim

int main(int argc, char** argv) {
  std::vector<std::string_view> args(argv + 1, argv + argc);
  std::string error;
  const auto options = tapsim::parseRunOptions(args, error);
  if (!options) {
    std::fprintf(stderr, "tapsim-run: %s\n", error.c_str());
    return tapsim::kUsage;
  }
  return tapsim::run(*options);
}
