#pragma once
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "front/window.h"
#include "platform/remote.h"
#include "platform/screen.h"
#include "session.h"

namespace tapsim {

std::string windowTitle(const Remote& remote, uint32_t page);
std::string windowKeysHelp();

// Sends what the person presses (after the script's keys, if any) to the run
// until it ends; screens reach the window as they are synced.
void runInWindow(Session& session, Window& window, const std::optional<std::vector<RemotePress>>& script,
                 const std::function<bool()>& stopRequested);

// Saves what the window shows now as a PNG file.
bool saveCapture(Window& window, const std::filesystem::path& file, std::string& error);

}  // namespace tapsim
