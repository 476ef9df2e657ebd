#pragma once
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/remote.h"
#include "platform/runoptions.h"
#include "sandbox.h"

namespace tapsim {

struct FrontOptions {
  std::filesystem::path module;
  std::optional<std::vector<RemotePress>> keys;  // absent: the person at the window presses them
  std::filesystem::path keysFile;                // --keys @FILE: an input no output may replace
  std::filesystem::path snapshots, contactSheet, checksums, disk;
  std::filesystem::path windowCaptures;  // what the window showed, read back, one PNG per screen
  std::filesystem::path record;          // every key pressed, as a key script
  std::optional<uint16_t> gdbPort;       // wait for a debugger there before the start-up entry
  bool headless = false;
  bool keepDisk = false;
  SandboxMode sandbox = SandboxMode::confined;
  std::vector<std::string> moduleEnvironment;  // --env NAME=VALUE: all of yours the module sees
  RunOptions run;  // the receiver's settings (its disk is filled in once the disk is ready)
  std::vector<std::string> notes;  // options that were taken but have no effect, in words
};

enum class ParseResult { Run, Help, Version, Error };
ParseResult parseFrontOptions(std::span<const std::string_view> args, FrontOptions& options, std::string& error);
std::string helpText();

// The presses of --keys: a script, or @FILE for the script in that file.
std::optional<std::vector<RemotePress>> keysOption(std::string_view value, std::string& error);

}  // namespace tapsim
