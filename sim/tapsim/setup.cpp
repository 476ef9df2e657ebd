#include "setup.h"

#include <elf.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "fwdatfile.h"
#include "launch.h"
#include "platform/disk.h"

namespace tapsim {
namespace {

constexpr std::string_view kDatabaseName = "FirmwareTMS.dat";

std::filesystem::path ownDirectory() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
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

bool writeDefaultDatabase(const std::filesystem::path& root, std::string& error) {
  const auto bytes = fwdat::build(fwdat::defaultModels());
  const auto file = root / "ProgramFiles" / "Settings" / kDatabaseName;
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) error = "cannot write " + file.string();
  return static_cast<bool>(out);
}

std::vector<uint8_t> readSmallFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> bytes;
  constexpr size_t kLimit = 16 << 20;  // a database is a few kilobytes
  char c;
  while (bytes.size() < kLimit && in.get(c)) bytes.push_back(static_cast<uint8_t>(c));
  return bytes;
}

}  // namespace

std::unique_ptr<RunDisk> prepareDisk(const FrontOptions& options, std::string& error) {
  if (!options.disk.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_directory(options.disk, ec)) {
      error = "the disk " + options.disk.string() + " is not a folder";
      return nullptr;
    }
    return std::make_unique<NamedDisk>(std::filesystem::absolute(options.disk));
  }
  try {
    auto disk = std::make_unique<FreshDisk>(DiskFolder::createDefault(), options.keepDisk);
    if (!writeDefaultDatabase(disk->root(), error)) return nullptr;
    return disk;
  } catch (const std::filesystem::filesystem_error& e) {
    error = std::string("cannot make a fresh disk: ") + e.what();
    return nullptr;
  }
}

int32_t remoteTypeOnDisk(const std::filesystem::path& root, uint32_t systemId) {
  // The module starts in /ProgramFiles, so the library finds a database there
  // before it looks in Settings.
  for (const auto* place : {"ProgramFiles", "ProgramFiles/Settings"}) {
    const auto file = root / place / kDatabaseName;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) continue;
    const auto contents = fwdat::parse(readSmallFile(file));
    if (!contents.accepted()) return 1;
    for (const auto& record : contents.records)
      if (record.sysId == systemId) return record.remoteType;  // the whole word, as the library compares
    return 1;
  }
  return 1;
}

std::vector<std::string> receiverCommand(const tapelf::ModuleReport& module, const FrontOptions& options,
                                         const std::filesystem::path& disk, std::string& error) {
  std::vector<std::string> command;
  if (module.machine == EM_X86_64) {
    command.push_back((ownDirectory() / "tapsim-run").string());
  } else {
    error = "cannot run a module for " + tapelf::machineName(module.machine) + " on this PC";
    return {};
  }
  command.insert(command.end(), {"--key-fd", std::to_string(ReceiverProcess::kKeyFd), "--frame-fd",
                                 std::to_string(ReceiverProcess::kFrameFd), "--model",
                                 std::to_string(options.systemId), "--disk", disk.string()});
  command.insert(command.end(), options.passOn.begin(), options.passOn.end());
  command.push_back(std::filesystem::absolute(options.module).string());
  return command;
}

}  // namespace tapsim
