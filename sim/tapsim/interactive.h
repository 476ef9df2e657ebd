#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "front/window.h"
#include "launch.h"
#include "outputs.h"
#include "platform/remote.h"

namespace tapsim {

std::string windowTitle(const Remote& remote, uint32_t page);
std::string windowKeysHelp();

// Shows every synced screen in the window and sends what the person presses
// (after the script's keys, if any) to the receiver, until the run ends.
int runInWindow(ReceiverProcess& receiver, Window& window, const Remote& remote,
                const std::optional<std::vector<RemotePress>>& script, Outputs& outputs,
                const std::filesystem::path& captures);

}  // namespace tapsim
