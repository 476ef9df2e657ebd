#pragma once
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "debugger.h"
#include "elfmodule.h"
#include "options.h"
#include "parts.h"
#include "platform/remote.h"

namespace tapsim {

// The disk a run uses: the one the user named, or a fresh one made for the run.
class RunDisk {
 public:
  virtual ~RunDisk() = default;
  virtual const std::filesystem::path& root() const = 0;
  virtual bool kept() const = 0;
};
// Nothing, and error set, when it cannot be had; `environment` then tells that
// the fault is the machine's (TMPDIR), not the command line's.
std::unique_ptr<RunDisk> prepareDisk(const FrontOptions& options, std::string& error, bool& environment);

// The remote type the disk's firmware database gives this model (1 when it
// says nothing), read through the confined disk as the module would read it.
int32_t remoteTypeOnDisk(const std::filesystem::path& root, uint32_t systemId, uint64_t limit);

// The program of that name on PATH; empty when there is none.
std::filesystem::path findProgram(std::string_view name);

// What --gdb attaches to for this module.
DebugTarget debugTarget(const tapelf::ModuleReport& module, const FrontOptions& options);

// The receiver build's sysroot, where MIPS modules run and whose C library
// judges what a module imports.
std::filesystem::path receiverSysroot();

// What this machine lacks to run the module: its board, or qemu.
std::optional<std::string> missingBoard(const tapelf::ModuleReport& module);

// Where a part is: beside the PC board, in the build folder or the installation.
PartFile partFile(const Part& part);

// How to start the board for this module: natively, or under qemu for MIPS.
std::vector<std::string> boardCommand(const tapelf::ModuleReport& module, const FrontOptions& options,
                                      std::string& error);

}  // namespace tapsim
