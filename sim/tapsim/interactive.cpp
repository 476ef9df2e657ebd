#include "interactive.h"

#include <poll.h>

#include <chrono>
#include <cstdio>

#include "front/png.h"

namespace tapsim {
namespace {

// Scripted keys in a window come at a pace a person can follow.
constexpr auto kScriptPace = std::chrono::milliseconds(400);

std::string remoteName(const Remote& remote) {
  return remote.sendsTranslatedCodes() ? "remote type 2 codes" : "standard remote";
}

bool saveCapture(Window& window, const std::filesystem::path& folder, size_t number, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const Image shown = window.capture();
  if (shown.argb.empty()) {
    error = "cannot read back what the window shows";
    return false;
  }
  char name[32];
  std::snprintf(name, sizeof name, "window-%03zu.png", number);
  return writePng(folder / name, shown.argb, shown.width, shown.height, error);
}

}  // namespace

std::string windowTitle(const Remote& remote, uint32_t page) {
  std::string title = "tapsim";
  if (page != 0) title += " - page " + std::to_string(page);
  return title + " - model " + std::to_string(remote.systemId) + ", remote type " +
         std::to_string(remote.remoteType) + " (" + remoteName(remote) + ")";
}

std::string windowKeysHelp() {
  std::string text;
  for (const KeyBinding& binding : keyBindings()) {
    std::string key(binding.key);
    key.resize(std::max<size_t>(key.size(), 21), ' ');
    text += "  " + key + "  " + std::string(binding.meaning) + "\n";
  }
  return text + "  closing the window     the quit key\n";
}

int runInWindow(ReceiverProcess& receiver, Window& window, const Remote& remote,
                const std::optional<std::vector<RemotePress>>& script, Outputs& outputs,
                const std::filesystem::path& captures) {
  using Clock = std::chrono::steady_clock;
  size_t scripted = 0;
  auto nextScripted = Clock::now() + kScriptPace;
  bool quitSent = false;
  Frame frame;
  for (;;) {
    pollfd frames{receiver.frameFd(), POLLIN, 0};
    if (poll(&frames, 1, 15) > 0) {
      uint32_t page = 0;
      std::string error;
      if (!receiver.readFrame(frame, page, error)) {
        if (!error.empty()) std::fprintf(stderr, "tapsim: %s\n", error.c_str());
        return error.empty() ? 0 : 1;
      }
      if (!outputs.add(frame, error)) {
        std::fprintf(stderr, "tapsim: %s\n", error.c_str());
        return 1;
      }
      window.present(frame);
      window.setTitle(windowTitle(remote, page));
      if (!captures.empty() && !saveCapture(window, captures, outputs.count(), error)) {
        std::fprintf(stderr, "tapsim: %s\n", error.c_str());
        return 1;
      }
    }
    if (script && scripted < script->size() && Clock::now() >= nextScripted) {
      receiver.sendKey(remote.code((*script)[scripted++]));
      nextScripted = Clock::now() + kScriptPace;
    }
    for (const RemotePress& press : window.poll(0)) receiver.sendKey(remote.code(press));
    if (window.closed() && !quitSent) {
      quitSent = true;  // closing the window was the quit key; the receiver ends the run
      receiver.endKeys();
    }
  }
}

}  // namespace tapsim
