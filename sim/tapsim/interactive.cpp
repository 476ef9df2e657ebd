#include "interactive.h"

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

}  // namespace

bool saveCapture(Window& window, const std::filesystem::path& file, std::string& error) {
  const Image shown = window.capture();
  if (shown.argb.empty()) {
    error = "cannot read back what the window shows";
    return false;
  }
  return writePng(file, shown.argb, shown.width, shown.height, error);
}

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

void runInWindow(Session& session, Window& window, const std::optional<std::vector<RemotePress>>& script,
                 const std::function<bool()>& stopRequested) {
  using Clock = std::chrono::steady_clock;
  size_t scripted = 0;
  auto nextScripted = Clock::now() + kScriptPace;
  while (session.step(std::chrono::milliseconds(15))) {
    if (stopRequested()) return;
    if (script && scripted < script->size() && Clock::now() >= nextScripted) {
      session.press((*script)[scripted++]);
      nextScripted = Clock::now() + kScriptPace;
    }
    for (const RemotePress& press : window.poll(0)) session.press(press);
    // Closing the window was the quit key; the run ends the way it ends without keys.
    if (window.closed()) session.endKeys();
  }
}

}  // namespace tapsim
