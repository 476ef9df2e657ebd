#include "options.h"

#include <algorithm>
#include <array>

#include "platform/runoptions.h"

namespace tapsim {
namespace {

// Options that go to the receiver as they stand, after a check here so that a
// bad value is reported before anything starts.
constexpr std::array<std::string_view, 9> kReceiverOptions = {
    "--firmware-version", "--channel", "--chdir-ok", "--chdir-fail", "--fail-alloc",
    "--idle-timeout",     "--pts",     "--trace",    "--watchdog"};

bool isReceiverOption(std::string_view name) {
  return std::ranges::find(kReceiverOptions, name) != kReceiverOptions.end();
}

}  // namespace

std::string helpText() {
  return R"(Usage: tapsim [options] MODULE

Runs a TAP module (a PC build, or a receiver build under qemu) in a simulated
receiver: screen, remote control, channels, memory, disk and pseudo-terminals.

Keys and screen:
  --keys SCRIPT          keys to press, e.g. "next next prev quit", "next*20 quit";
                         names: next, prev, quit; any other key as a hexadecimal
                         code such as 0x10020. Without --keys a window takes the
                         keyboard; headless runs then have no keys at all.
  --headless             never open a window, even when a display exists
  --snapshots DIR        write every synced screen as DIR/screen-NNN.png
  --window-captures DIR  write what the window shows after each screen as
                         DIR/window-NNN.png (read back from the window)
  --contact-sheet FILE   write all synced screens in one numbered PNG
  --checksums FILE       write one checksum line per synced screen
  --trace FILE           write every platform call as a JSON line

The receiver:
  --model ID             system id the platform reports (default 22010); the
                         remote sends what that model's remote sends
  --firmware-version N   what TAP_GetVersion reports
  --channel A,B          the channel showing at start (default 0,7)
  --disk DIR             a host folder as the disk's root (default: a fresh
                         disk with /ProgramFiles, /ProgramFiles/Settings and a
                         firmware database, removed at the end)
  --keep-disk            keep the fresh disk and say where it is
  --chdir-ok N           what TAP_Hdd_ChangeDir returns on success (default 1)
  --chdir-fail N         ... and on failure (default 0)
  --pts LIST             pseudo-terminals that open, e.g. 0,3 (default none)
  --fail-alloc N         the Nth TAP_MemAlloc returns null
  --idle-timeout MS      how long the module may wait once the keys ran out
                         (default 2000)
  --watchdog S           give up when the module makes no platform call for
                         S seconds (default 20, 0 never)

  --help                 show this text
  --version              print tapsim's version

A receiver (MIPS) module runs under qemu-mipsel on the receiver build of the
simulator (cmake --preset receiver); TAPSIM_MIPSEL_DIR names another build of it.

Window keys:
)";
}

namespace {

// Options that stand alone; false when arg is none of them.
bool takeFlag(std::string_view arg, FrontOptions& options) {
  if (arg == "--headless") return options.headless = true;
  if (arg == "--keep-disk") return options.keepDisk = true;
  return false;
}

bool takeValue(std::string_view arg, std::string_view value, FrontOptions& options, std::string& error) {
  if (arg == "--keys") {
    options.keys = parseKeyScript(value, error);
    return options.keys.has_value();
  }
  if (arg == "--model") {
    const auto id = parseNumber(value);
    if (!id || *id > 0xFFFFFFFFu) {
      error = "bad value for --model: " + std::string(value);
      return false;
    }
    options.systemId = static_cast<uint32_t>(*id);
  } else if (arg == "--snapshots") {
    options.snapshots = value;
  } else if (arg == "--window-captures") {
    options.windowCaptures = value;
  } else if (arg == "--contact-sheet") {
    options.contactSheet = value;
  } else if (arg == "--checksums") {
    options.checksums = value;
  } else if (arg == "--disk") {
    options.disk = value;
  } else if (isReceiverOption(arg)) {
    options.passOn.emplace_back(arg);
    options.passOn.emplace_back(value);
  } else {
    error = "unknown option " + std::string(arg) + " (see tapsim --help)";
    return false;
  }
  return true;
}

}  // namespace

ParseResult parseFrontOptions(std::span<const std::string_view> args, FrontOptions& options,
                              std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") return ParseResult::Help;
    if (arg == "--version") return ParseResult::Version;
    if (takeFlag(arg, options)) continue;
    if (!arg.starts_with("-")) {
      if (!options.module.empty()) {
        error = "only one module can run at a time (got " + options.module.string() + " and " +
                std::string(arg) + ")";
        return ParseResult::Error;
      }
      options.module = arg;
      continue;
    }
    if (i + 1 >= args.size()) {
      error = "option " + std::string(arg) + " needs a value";
      return ParseResult::Error;
    }
    if (!takeValue(arg, args[++i], options, error)) return ParseResult::Error;
  }
  if (options.module.empty()) {
    error = "no module named (usage: tapsim [options] MODULE)";
    return ParseResult::Error;
  }
  // Let the receiver's own parser judge the values now, with a stand-in disk.
  std::vector<std::string_view> check(options.passOn.begin(), options.passOn.end());
  check.insert(check.end(), {"--disk", "/", "module"});
  std::string receiverError;
  if (!parseRunOptions(check, receiverError)) {
    error = receiverError;
    return ParseResult::Error;
  }
  return ParseResult::Run;
}

}  // namespace tapsim
