#include "options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/runoptions.h"

namespace tapsim {
std::string helpText() {
  return R"(Usage: tapsim [options] MODULE

Runs a TAP module (a PC build, or a receiver build under qemu) in a simulated
receiver: screen, remote control, channels, memory, disk and pseudo-terminals.

Keys and screen:
  --keys SCRIPT          keys to press, e.g. "next next prev quit", "next*20 quit";
                         names: next, prev, quit; any other key as a hexadecimal
                         code such as 0x10020. Without --keys a window takes the
                         keyboard; headless runs then have no keys at all.
  --keys @FILE           the keys of a script file, such as --record writes
  --record FILE          write every key pressed, in the window or by --keys, in
                         order, as a key script that --keys @FILE replays
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
  --memory-limit SIZE    what the module's blocks may hold together, like a
                         receiver's memory (default 16M; K, M, G allowed)
  --idle-timeout MS      how long the module may go on once the keys ran out
                         (default 2000; 0: not at all, the run ends as soon as
                         the module waits for a key that will never come)
  --watchdog S           give up when the module makes no platform call, or
                         gives the platform no turn while keys wait, for S
                         seconds (default 20, 0 never)
  --stale-dlerror        leave a failed symbol lookup's error unread before
                         the module starts, as some firmware does

Confinement (the summary says which layers are in force):
  --require-sandbox      refuse to run unless both layers confine the module:
                         Landlock (it reaches only the files it needs, read
                         only, and no network) and a seccomp filter (no
                         tracing, no new process, no namespaces)
  --no-sandbox           run the module unconfined on purpose, e.g. to trace
                         the simulator itself; it can reach whatever you can
  --env NAME=VALUE       a variable of the module's environment (again for
                         more); a confined module sees none of yours

Debugging:
  --gdb PORT             wait for a debugger on PORT before the module's
                         start-up entry, and print the gdb-multiarch command
                         that attaches with the module's symbols (a receiver
                         module: qemu's gdb stub, which stops before the
                         board's first instruction; a PC module: gdbserver).
                         Keys go in once the debugger lets the run go on. The
                         watchdog is off, and the idle time counts from the
                         module's first turn without a key.
  --                     ends the options: what follows is the module

  --help                 show this text
  --version              print tapsim's version

A receiver (MIPS) module runs under qemu-mipsel on the mipsel board: the one
installed with tapsim (libexec/quarnel/mipsel), or in a build tree the receiver
build's (cmake --preset receiver); TAPSIM_MIPSEL_DIR names another receiver build.
A fresh disk is made in TMPDIR (/tmp when it is not set).

Exit status:
  0   the run ended normally
  1   the front end failed: an output not written, the debugger ended the run
  2   a bad command line, or an output tapsim refuses to write
  3   a bad module file
  4   the keys ran out while the module still waited for one
  5   the module crashed
  6   the module hung
  7   the module ended the process itself (exit)
  8   the environment failed: TMPDIR, an incomplete installation
  128+N  stopped by signal N (an interrupt: 130)

Window keys:
)";
}

namespace {

// Options that stand alone; false when arg is none of them.
bool takeFlag(std::string_view arg, FrontOptions& options) {
  if (arg == "--headless") return options.headless = true;
  if (arg == "--keep-disk") return options.keepDisk = true;
  if (arg == "--stale-dlerror") return options.run.staleDlerror = true;
  if (arg == "--require-sandbox" || arg == "--no-sandbox") {
    options.sandbox = arg == "--no-sandbox" ? SandboxMode::off : SandboxMode::required;
    return true;
  }
  return false;
}

constexpr std::string_view kFrontOptions[] = {"--keys",   "--snapshots", "--window-captures", "--contact-sheet",
                                              "--checksums", "--record", "--gdb",       "--env"};

// Longer than any script a person would keep; a bound for whatever file is named.
constexpr size_t kMaxKeyScriptBytes = 1 << 20;

// O_NONBLOCK: a pipe with no writer would otherwise hold the open for ever.
int openRegular(const std::filesystem::path& file) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || S_ISREG(info.st_mode)) return fd;
  close(fd);
  errno = S_ISDIR(info.st_mode) ? EISDIR : 0;
  return -1;
}

std::optional<std::string> readBounded(const std::filesystem::path& file, size_t limit, std::string& error) {
  const int fd = openRegular(file);
  std::string text;
  ssize_t got = 0;
  char block[65536];
  while (fd >= 0 && text.size() <= limit && (got = read(fd, block, sizeof block)) > 0) text.append(block, size_t(got));
  const int reason = errno;
  if (fd >= 0) close(fd);
  if (fd < 0 || got < 0) {
    error = "cannot read the key script " + file.string() + ": " +
            (reason == 0 ? std::string("not a regular file") : std::strerror(reason));
    return std::nullopt;
  }
  if (text.size() > limit) {
    error = "the key script " + file.string() + " is larger than " + std::to_string(limit >> 10) + " KiB";
    return std::nullopt;
  }
  return text;
}

std::optional<uint16_t> portNumber(std::string_view value) {
  const auto number = parseNumber(value);
  if (!number || *number == 0 || *number > 65535) return std::nullopt;
  return static_cast<uint16_t>(*number);
}

// What a value must be, where a bare "bad value" would leave a person guessing.
std::string boundOf(std::string_view option) {
  if (option == "--memory-limit")
    return " (1 byte to 4095M, since the module's sizes are 32-bit; K, M and G allowed)";
  return "";
}

bool takesValue(std::string_view arg) {
  for (const std::string_view known : kFrontOptions)
    if (known == arg) return true;
  return isRunOption(arg);
}

bool takeValue(std::string_view arg, std::string_view value, FrontOptions& options, std::string& error) {
  if (arg == "--keys") {
    options.keysFile = value.starts_with('@') ? std::filesystem::path(value.substr(1)) : std::filesystem::path();
    options.keys = keysOption(value, error);
    return options.keys.has_value();
  }
  if (arg == "--gdb") {
    options.gdbPort = portNumber(value);
    if (!options.gdbPort) error = "bad value for --gdb: " + std::string(value) + " (a TCP port, 1 to 65535)";
    return options.gdbPort.has_value();
  }
  if (arg == "--env") {
    const size_t equals = value.find('=');
    if (equals == 0 || equals == std::string_view::npos) {
      error = "bad value for --env: " + std::string(value) + " (NAME=VALUE)";
      return false;
    }
    options.moduleEnvironment.emplace_back(value);
    return true;
  }
  if (arg == "--snapshots") {
    options.snapshots = value;
  } else if (arg == "--window-captures") {
    options.windowCaptures = value;
  } else if (arg == "--contact-sheet") {
    options.contactSheet = value;
  } else if (arg == "--checksums") {
    options.checksums = value;
  } else if (arg == "--record") {
    options.record = value;
  } else if (arg == "--disk") {
    options.disk = value;
  } else if (!setRunOption(arg, value, options.run)) {
    error = "bad value for " + std::string(arg) + ": " + std::string(value) + boundOf(arg);
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::vector<RemotePress>> keysOption(std::string_view value, std::string& error) {
  if (!value.starts_with('@')) return parseKeyScript(value, error);
  const std::filesystem::path file(value.substr(1));
  const auto script = readBounded(file, kMaxKeyScriptBytes, error);
  if (!script) return std::nullopt;
  auto presses = parseKeyScript(*script, error);
  if (!presses) error = "the key script " + file.string() + ": " + error;
  return presses;
}

ParseResult parseFrontOptions(std::span<const std::string_view> args, FrontOptions& options,
                              std::string& error) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    const bool isOption = !optionsEnded && arg.starts_with("-") && arg != "-";
    if (isOption && (arg == "--help" || arg == "-h")) return ParseResult::Help;
    if (isOption && arg == "--version") return ParseResult::Version;
    if (isOption && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (isOption && takeFlag(arg, options)) continue;
    if (!isOption) {
      if (!options.module.empty()) {
        error = "only one module can run at a time (got " + options.module.string() + " and " +
                std::string(arg) + ")";
        return ParseResult::Error;
      }
      options.module = arg;
      continue;
    }
    if (!takesValue(arg)) {
      error = "unknown option " + std::string(arg) +
              " (see tapsim --help; a module whose name starts with - goes after --)";
      return ParseResult::Error;
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
  options.run.module = options.module;
  if (options.headless && !options.windowCaptures.empty())
    options.notes.push_back("--window-captures has no effect with --headless: no window opens");
  return ParseResult::Run;
}

}  // namespace tapsim
