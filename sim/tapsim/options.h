#pragma once
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/remote.h"

namespace tapsim {

struct FrontOptions {
  std::filesystem::path module;
  std::optional<std::vector<RemotePress>> keys;  // absent: the person at the window presses them
  std::filesystem::path snapshots, contactSheet, checksums, disk;
  std::filesystem::path windowCaptures;  // what the window showed, read back, one PNG per screen
  bool headless = false;
  bool keepDisk = false;
  uint32_t systemId = 22010;
  std::vector<std::string> passOn;  // options the receiver itself reads
};

enum class ParseResult { Run, Help, Version, Error };
ParseResult parseFrontOptions(std::span<const std::string_view> args, FrontOptions& options, std::string& error);
std::string helpText();

}  // namespace tapsim
