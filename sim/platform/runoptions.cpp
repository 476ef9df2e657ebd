#include "runoptions.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace tapsim {

std::optional<uint64_t> parseNumber(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t value = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || status != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::bitset<kPseudoTerminals>> parseTerminalList(std::string_view text) {
  std::bitset<kPseudoTerminals> open;
  if (text == "none") return open;
  if (text.empty()) return std::nullopt;
  // Every item a number: "0," and ",0" are both refused.
  for (;;) {
    const size_t comma = text.find(',');
    const auto number = parseNumber(text.substr(0, comma));
    if (!number || *number >= kPseudoTerminals) return std::nullopt;
    open.set(*number);
    if (comma == std::string_view::npos) return open;
    text = text.substr(comma + 1);
  }
}

std::optional<uint64_t> parseSize(std::string_view text) {
  uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K': unit = 1u << 10; break;
      case 'M': unit = 1u << 20; break;
      case 'G': unit = 1u << 30; break;
      default: break;
    }
    if (unit != 1) text.remove_suffix(1);
  }
  const auto value = parseNumber(text);
  if (!value || *value > std::numeric_limits<uint64_t>::max() / unit) return std::nullopt;
  return *value * unit;
}

namespace {

template <typename T>
bool setNumber(std::string_view text, T& target) {
  const auto value = parseNumber(text);
  if (!value || *value > std::numeric_limits<T>::max()) return false;
  target = static_cast<T>(*value);
  return true;
}

bool setChannel(std::string_view text, ReceiverSettings& settings) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) return false;
  // Two unsigned 32-bit words, as the platform hands them over.
  return setNumber(text.substr(0, comma), settings.channelFirst) &&
         setNumber(text.substr(comma + 1), settings.channelSecond);
}

constexpr std::string_view kRunOptions[] = {"--model", "--firmware-version", "--channel", "--chdir-ok",
                                            "--chdir-fail", "--fail-alloc", "--memory-limit", "--watchdog",
                                            "--disk", "--trace", "--idle-timeout", "--pts"};

}  // namespace

bool isRunOption(std::string_view name) { return std::ranges::find(kRunOptions, name) != std::end(kRunOptions); }

bool setRunOption(std::string_view name, std::string_view value, RunOptions& options) {
  ReceiverSettings& r = options.receiver;
  if (name == "--model") return setNumber(value, r.systemId);
  if (name == "--firmware-version") return setNumber(value, r.firmwareVersion);
  if (name == "--channel") return setChannel(value, r);
  if (name == "--chdir-ok") return setNumber(value, r.changeDirSuccess);
  if (name == "--chdir-fail") return setNumber(value, r.changeDirFailure);
  if (name == "--fail-alloc") return setNumber(value, r.failingAllocation);
  if (name == "--memory-limit") {
    const auto size = parseSize(value);
    if (!size || *size == 0 || *size > 0xFFFFFFFFu) return false;
    r.memoryLimit = *size;
    return true;
  }
  if (name == "--watchdog") return setNumber(value, options.watchdogSeconds);
  if (name == "--disk") {
    r.diskRoot = value;
    return true;
  }
  if (name == "--trace") {
    options.tracePath = value;
    return true;
  }
  if (name == "--idle-timeout") {
    uint32_t ms = 0;
    if (!setNumber(value, ms)) return false;
    options.idleLimit = std::chrono::milliseconds(ms);
    return true;
  }
  if (name == "--pts") {
    const auto list = parseTerminalList(value);
    if (list) options.openTerminals = *list;
    return list.has_value();
  }
  return false;
}

std::optional<RunOptions> parseRunOptions(std::span<const std::string_view> args, std::string& error) {
  RunOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!arg.starts_with("--")) {
      if (!options.module.empty()) {
        error = "more than one module named: " + std::string(arg);
        return std::nullopt;
      }
      options.module = arg;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "option " + std::string(arg) + " needs a value";
      return std::nullopt;
    }
    if (!isRunOption(arg) || !setRunOption(arg, args[++i], options)) {
      error = "bad value for " + std::string(arg) + ": " + std::string(args[i]);
      return std::nullopt;
    }
  }
  if (options.module.empty()) {
    error = "no module named";
    return std::nullopt;
  }
  if (options.receiver.diskRoot.empty()) {
    error = "no disk named (--disk DIR)";
    return std::nullopt;
  }
  return options;
}

}  // namespace tapsim
