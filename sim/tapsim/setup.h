#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "elfmodule.h"
#include "options.h"
#include "platform/remote.h"

namespace tapsim {

// The disk a run uses: the one the user named, or a fresh one made for the run.
class RunDisk {
 public:
  virtual ~RunDisk() = default;
  virtual const std::filesystem::path& root() const = 0;
  virtual bool kept() const = 0;
};
std::unique_ptr<RunDisk> prepareDisk(const FrontOptions& options, std::string& error);

// The remote type the disk's firmware database gives this model (1 when it says nothing).
int32_t remoteTypeOnDisk(const std::filesystem::path& root, uint32_t systemId);

// How to start the receiver for this module: natively, or under qemu for MIPS.
std::vector<std::string> receiverCommand(const tapelf::ModuleReport& module, const FrontOptions& options,
                                         const std::filesystem::path& disk, std::string& error);

}  // namespace tapsim
