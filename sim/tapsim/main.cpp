// tapsim: runs a TAP module in a simulated receiver and shows or saves what it draws.
#include <elf.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "elfmodule.h"
#include "interactive.h"
#include "launch.h"
#include "options.h"
#include "outputs.h"
#include "quarnel_version.h"
#include "setup.h"

namespace tapsim {
namespace {

enum Exit { kOk = 0, kUsage = 2, kBadModule = 3 };

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "tapsim: %s\n", message.c_str());
  return code;
}

// The same reader as tapcheck: nothing reaches the loader that it refuses.
std::optional<tapelf::ModuleReport> checkModule(const std::filesystem::path& file, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    error = "no such module file: " + file.string();
    return std::nullopt;
  }
  auto inspection = tapelf::inspect(file);
  if (!inspection) {
    error = inspection.error;  // already names the file
    return std::nullopt;
  }
  const auto problems = tapelf::problems(*inspection.report, tapelf::rulesFor(*inspection.report));
  if (!problems.empty()) {
    error = file.string() + ": " + problems.front();
    return std::nullopt;
  }
  return inspection.report;
}

void feedScript(ReceiverProcess& receiver, const Remote& remote, const std::vector<RemotePress>& keys) {
  for (const RemotePress& press : keys) receiver.sendKey(remote.code(press));
  receiver.endKeys();
}

int runHeadless(ReceiverProcess& receiver, Outputs& outputs) {
  Frame frame;
  uint32_t page = 0;
  std::string error;
  while (receiver.readFrame(frame, page, error))
    if (!outputs.add(frame, error)) break;
  if (!error.empty() && stopSignal() == 0) std::fprintf(stderr, "tapsim: %s\n", error.c_str());
  return error.empty() ? kOk : 1;
}

int run(const FrontOptions& options) {
  std::string error;
  const auto report = checkModule(options.module, error);
  if (!report) return fail(kBadModule, error);
  Outputs outputs(options);
  if (!outputs.open(error)) return fail(kUsage, error);

  auto disk = prepareDisk(options, error);
  if (!disk) return fail(kUsage, error);
  const Remote remote{options.systemId, remoteTypeOnDisk(disk->root(), options.systemId)};

  auto command = receiverCommand(*report, options, disk->root(), error);
  if (command.empty()) return fail(kBadModule, error);
  auto receiver = ReceiverProcess::start(command, error);
  if (!receiver) return fail(1, error);

  std::unique_ptr<Window> window;
  if (!options.headless && std::getenv("DISPLAY") != nullptr) {
    window = Window::open(windowTitle(remote, 0), error);
    if (!window) std::fprintf(stderr, "tapsim: no window (%s); running headless\n", error.c_str());
  }
  int front = kOk;
  if (window) {
    front = runInWindow(*receiver, *window, remote, options.keys, outputs, options.windowCaptures);
  } else {
    feedScript(*receiver, remote, options.keys.value_or(std::vector<RemotePress>{}));
    front = runHeadless(*receiver, outputs);
  }
  // The front end's own failure is reported already; the receiver may be
  // blocked on a screen that nobody will read.
  if (front != kOk) receiver->stop();
  std::string how;
  const int code = receiver->wait(how);
  if (stopSignal() != 0) how = std::string("stopped by ") + strsignal(stopSignal());
  else if (front != kOk) how.clear();
  if (!how.empty()) std::fprintf(stderr, "tapsim: %s\n", how.c_str());
  if (!outputs.finish(error)) return fail(1, error);
  if (front == kOk)
    for (const auto& line : outputs.report()) std::printf("%s\n", line.c_str());
  if (disk->kept()) std::printf("disk kept at %s\n", disk->root().c_str());
  if (stopSignal() != 0) return 128 + stopSignal();
  return front != kOk ? front : code;
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
      return tapsim::fail(tapsim::kUsage, error);
    case tapsim::ParseResult::Run:
      break;
  }
  tapsim::stopReceiverOnSignals();
  return tapsim::run(options);
}
