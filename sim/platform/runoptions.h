#pragma once
#include <bitset>
#include <chrono>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "settings.h"

namespace tapsim {

inline constexpr int kPseudoTerminals = 20;

// How the front end tells the receiver what to be.
struct RunOptions {
  std::filesystem::path module;
  ReceiverSettings receiver;
  int frameFd = -1;
  int keyFd = -1;
  std::chrono::milliseconds idleLimit{2000};
  unsigned watchdogSeconds = 20;
  std::string tracePath;
  std::bitset<kPseudoTerminals> openTerminals;
};

std::optional<RunOptions> parseRunOptions(std::span<const std::string_view> args, std::string& error);

// Small parsers shared with the front end; they accept decimal or 0x-hexadecimal.
std::optional<uint64_t> parseNumber(std::string_view text);
std::optional<std::bitset<kPseudoTerminals>> parseTerminalList(std::string_view text);

}  // namespace tapsim
