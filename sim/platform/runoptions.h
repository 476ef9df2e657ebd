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

// What the receiver is to be for one run, and how long the module may take.
struct RunOptions {
  std::filesystem::path module;
  ReceiverSettings receiver;
  std::chrono::milliseconds idleLimit{2000};
  unsigned watchdogSeconds = 20;
  std::string tracePath;
  std::bitset<kPseudoTerminals> openTerminals;
  bool staleDlerror = false;
};

// Whether `name` is one of the receiver's options, which all take a value.
bool isRunOption(std::string_view name);
// Sets one receiver option; false when the value is not one it takes.
bool setRunOption(std::string_view name, std::string_view value, RunOptions& options);
std::optional<RunOptions> parseRunOptions(std::span<const std::string_view> args, std::string& error);
// "16M", "65536", "0x10000": bytes, with K, M or G as 1024-multiples.
std::optional<uint64_t> parseSize(std::string_view text);

// Small parsers shared with the front end; they accept decimal or 0x-hexadecimal.
std::optional<uint64_t> parseNumber(std::string_view text);
std::optional<std::bitset<kPseudoTerminals>> parseTerminalList(std::string_view text);

}  // namespace tapsim
