#include "setup.h"

#include <elf.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "fwdatfile.h"
#include "platform/disk.h"

namespace tapsim {
namespace {

constexpr std::string_view kDatabaseName = "FirmwareTMS.dat";

std::filesystem::path ownDirectory() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
}

// Where the boards are: a tapsim in its build folder has the PC board beside
// it and the receiver build's; any other is an installed one
// (QUARNEL_BOARDS_FROM_BIN, e.g. ../libexec/quarnel), wherever that was
// unpacked, and looks nowhere else, so that a part missing from it is named
// rather than taken from a build tree that happens to be on this machine.
struct Boards {
  std::filesystem::path pc, mipsel;
  bool installed = false;
};

Boards boards() {
  const auto own = ownDirectory();
  std::error_code ec;
  if (std::filesystem::equivalent(own, QUARNEL_TAPSIM_BUILD_DIR, ec))
    return {own / "tapsim-board", QUARNEL_MIPSEL_DIR, false};
  const auto installed = (own / QUARNEL_BOARDS_FROM_BIN).lexically_normal();
  return {installed / "tapsim-board", installed / "mipsel", true};
}

class NamedDisk : public RunDisk {
 public:
  explicit NamedDisk(std::filesystem::path root) : root_(std::move(root)) {}
  const std::filesystem::path& root() const override { return root_; }
  bool kept() const override { return false; }

 private:
  std::filesystem::path root_;
};

class FreshDisk : public RunDisk {
 public:
  FreshDisk(DiskFolder folder, bool keep) : folder_(std::move(folder)) {
    if (keep) folder_.keep();
  }
  const std::filesystem::path& root() const override { return folder_.path(); }
  bool kept() const override { return folder_.kept(); }

 private:
  DiskFolder folder_;
};

// The mipsel board and its sysroot; TAPSIM_MIPSEL_DIR names another receiver build.
std::filesystem::path mipselDirectory() {
  const char* dir = std::getenv("TAPSIM_MIPSEL_DIR");
  return std::filesystem::absolute(dir != nullptr && *dir != '\0' ? dir : boards().mipsel);
}

std::string missingMipselBoard(const std::filesystem::path& dir) {
  const char* named = std::getenv("TAPSIM_MIPSEL_DIR");
  if ((named == nullptr || *named == '\0') && boards().installed)
    return "no mipsel board in " + dir.string() +
           " (this installation lacks its receiver part; reinstall it, or set TAPSIM_MIPSEL_DIR to a receiver build)";
  return "no mipsel board in " + dir.string() +
         " (build the receiver preset first: cmake --preset receiver && cmake --build --preset receiver;"
         " or set TAPSIM_MIPSEL_DIR to a receiver build)";
}

// The boards, where the debugger is pointed too: the PC one beside tapsim,
// the mipsel one in the receiver build with its sysroot.
std::filesystem::path nativeBoard() { return boards().pc; }
std::filesystem::path mipselBoard() { return mipselDirectory() / "sim" / "tapsim-board"; }
std::filesystem::path mipselSysroot() { return mipselDirectory() / "sysroot"; }

}  // namespace

std::filesystem::path findProgram(std::string_view name) {
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!dirs.empty()) {
    const size_t end = std::min(dirs.find(':'), dirs.size());
    std::filesystem::path candidate = std::filesystem::path(dirs.substr(0, end)) / name;
    if (!candidate.parent_path().empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
    dirs.remove_prefix(std::min(end + 1, dirs.size()));
  }
  return {};
}

namespace {

// Refused before the run, so the module never meets an unbound call halfway through.
bool callsAllProvided(const tapelf::ModuleReport& module, const std::filesystem::path& sysroot,
                      std::string& error) {
  const auto platform = tapelf::inspect(sysroot / "tapapi/TMS/libtap.so", tapelf::Code::skip);
  if (!platform) {
    error = "cannot read the simulator's library " + platform.error;
    return false;
  }
  const tapelf::SystemLibrary system = tapelf::readSystemLibrary(sysroot);
  if (!system.error.empty()) {
    error = system.error;
    return false;
  }
  for (const auto& symbol : module.undefined) {
    const bool entryWord = symbol.name.starts_with("TAP_");
    if (entryWord ? tapelf::findExported(*platform.report, symbol.name) != nullptr : system.provides(symbol.name))
      continue;
    error = entryWord
                ? "the module calls " + symbol.name + ", which the simulated platform does not provide"
                : "the module needs " + symbol.name + ", which no library of the simulated receiver provides";
    return false;
  }
  return true;
}

// qemu -L looks every absolute path up in the sysroot first and takes the
// sysroot's when it exists there, so such a host path would be swapped unseen.
bool shadowedBySysroot(const std::filesystem::path& sysroot, const std::filesystem::path& path,
                       std::string& error) {
  std::error_code ec;
  if (!path.is_absolute() || !std::filesystem::exists(sysroot / path.relative_path(), ec)) return false;
  error = path.string() + " cannot be used with a MIPS module: the sysroot " + sysroot.string() +
          " has the same path";
  return true;
}

std::vector<std::string> mipsBoard(const tapelf::ModuleReport& module, const FrontOptions& options,
                                   std::string& error) {
  const auto board = mipselBoard(), sysroot = mipselSysroot();
  const auto qemu = findProgram("qemu-mipsel");
  if (!callsAllProvided(module, sysroot, error)) return {};
  if (shadowedBySysroot(sysroot, std::filesystem::absolute(options.module), error)) return {};
  // The receiver's processor: MIPS32 release 1 without an FPU. The PC's
  // preloads and library paths hold PC libraries; the receiver's loader must not see them.
  std::vector<std::string> command{qemu.string()};
  // qemu's own stub: the board does not run a single instruction before a debugger says so.
  if (options.gdbPort) command.insert(command.end(), {"-g", std::to_string(*options.gdbPort)});
  command.insert(command.end(), {"-cpu", "4Kc", "-U", "LD_PRELOAD", "-U", "LD_LIBRARY_PATH", "-L",
                                 sysroot.string(), board.string()});
  return command;
}

}  // namespace

namespace {

// Where a fresh disk goes, as fs::temp_directory_path would pick it, but
// with the variable named when it is what stands in the way.
std::optional<std::filesystem::path> freshDiskParent(std::string& error) {
  const char* named = std::getenv("TMPDIR");
  if (named == nullptr) return std::filesystem::path("/tmp");
  if (*named == '\0') {
    error = "TMPDIR is set but empty; set it to a folder for the run's fresh disk, or unset it for /tmp";
    return std::nullopt;
  }
  std::error_code ec;
  const auto type = std::filesystem::status(named, ec).type();
  if (type != std::filesystem::file_type::directory) {
    const std::string why = type == std::filesystem::file_type::not_found ? "it does not exist"
                            : ec                                          ? ec.message()
                                                                          : "it is a file";
    error = std::string("TMPDIR=") + named + " is not a folder (" + why + "); the run's fresh disk is made there";
    return std::nullopt;
  }
  return std::filesystem::path(named);
}

}  // namespace

std::unique_ptr<RunDisk> prepareDisk(const FrontOptions& options, std::string& error, bool& environment) {
  environment = false;
  if (!options.disk.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(options.disk, ec)) {
      error = "the disk " + options.disk.string() + " is not a folder";
      return nullptr;
    }
    return std::make_unique<NamedDisk>(std::filesystem::absolute(options.disk));
  }
  environment = true;
  const auto parent = freshDiskParent(error);
  if (!parent) return nullptr;
  const std::string where = std::getenv("TMPDIR") != nullptr ? "TMPDIR=" + parent->string() : parent->string();
  try {
    DiskFolder::removeAbandoned();
    auto disk = std::make_unique<FreshDisk>(DiskFolder::createDefault(options.keepDisk), options.keepDisk);
    const auto database = disk->root() / "ProgramFiles" / "Settings" / kDatabaseName;
    if (!fwdat::writeFile(database, fwdat::defaultModels(), error, true)) {
      error = "cannot make a fresh disk in " + where + ": " + error;
      return nullptr;
    }
    return disk;
  } catch (const std::filesystem::filesystem_error& e) {
    error = "cannot make a fresh disk in " + where + ": " + e.code().message();
    return nullptr;
  }
}

int32_t remoteTypeOnDisk(const std::filesystem::path& root, uint32_t systemId, uint64_t limit) {
  // Read through the same confined disk the module gets, where the module's
  // library looks: its start folder first, then Settings. A name that exists
  // but does not open (a folder) ends the search there, as it does for the library.
  try {
    VirtualDisk disk(root);
    for (const auto* place : {"/ProgramFiles/FirmwareTMS.dat", "/ProgramFiles/Settings/FirmwareTMS.dat"}) {
      if (!disk.exists(place)) continue;
      TapFile* file = disk.open(place);
      const uint32_t length = file != nullptr ? disk.length(file) : 0;
      if (file == nullptr || length == 0 || length > limit) return 1;
      std::vector<uint8_t> bytes(length);
      const bool read = disk.read(bytes.data(), length, 1, file) == 1;
      disk.close(file);
      const auto contents = fwdat::parse(bytes);
      if (!read || !contents.accepted()) return 1;
      for (const auto& record : contents.records)
        if (record.sysId == systemId) return record.remoteType;  // the whole word, as the library compares
      return 1;
    }
  } catch (const std::exception&) {
  }
  return 1;
}

DebugTarget debugTarget(const tapelf::ModuleReport& module, const FrontOptions& options) {
  DebugTarget target;
  target.port = options.gdbPort.value_or(0);
  target.receiver = module.machine == EM_MIPS;
  target.board = target.receiver ? mipselBoard() : nativeBoard();
  target.sysroot = target.receiver ? mipselSysroot() : std::filesystem::path("/");
  target.moduleDir = std::filesystem::absolute(options.module).parent_path();
  std::error_code ec;
  if (std::filesystem::is_directory(QUARNEL_SOURCE_DIR, ec)) target.sources = QUARNEL_SOURCE_DIR;
  return target;
}

std::filesystem::path receiverSysroot() { return mipselSysroot(); }

std::optional<std::string> missingBoard(const tapelf::ModuleReport& module) {
  std::error_code ec;
  if (module.machine == EM_X86_64 && !std::filesystem::is_regular_file(boards().pc, ec))
    return "no PC board at " + boards().pc.string() +
           (boards().installed ? " (this installation is incomplete; reinstall it)" : " (build the target tapsim-board)");
  if (module.machine != EM_MIPS) return std::nullopt;
  if (!std::filesystem::is_regular_file(mipselBoard(), ec) ||
      !std::filesystem::exists(mipselSysroot() / "tapapi/TMS/libtap.so", ec))
    return missingMipselBoard(mipselDirectory());
  if (findProgram("qemu-mipsel").empty())
    return "qemu-mipsel is not installed; a MIPS module needs it (Debian package qemu-user)";
  return std::nullopt;
}

PartFile partFile(const Part& part) {
  const Boards where = boards();
  return {where.pc.parent_path() / part.file, part.what,
          where.installed ? std::string("this installation is incomplete; reinstall it")
                          : "build the target " + std::string(part.target)};
}

std::vector<std::string> boardCommand(const tapelf::ModuleReport& module, const FrontOptions& options,
                                      std::string& error) {
  std::vector<std::string> command;
  if (module.machine == EM_X86_64) {
    command.push_back(boards().pc.string());
  } else if (module.machine == EM_MIPS) {
    command = mipsBoard(module, options, error);
    if (command.empty()) return {};
  } else {
    error = "cannot run a module for " + tapelf::machineName(module.machine) + " on this PC";
    return {};
  }
  command.push_back(std::filesystem::absolute(options.module).string());
  return command;
}

}  // namespace tapsim
