#pragma once
// Where in the module's source a crash happened: the board sends the
// interrupted code's registers and its stack, and the module's file with its
// debug information (inside it, or beside it through .gnu_debuglink) names the
// function and line of the faulting instruction and of each call above it.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tapsim {

// A fault as the board saw it; addresses as the module's process has them.
struct Fault {
  int signal = 0;
  uint64_t address = 0;
  uint64_t pc = 0, sp = 0;
  uint64_t ra = 0;  // MIPS: the return address register
  uint64_t stackAt = 0;
  std::string stack;  // the stack's bytes from stackAt, as far as the board could read them
  bool stackCut = false;
};

// A fault at the stack's guard: just below the lowest readable page of the
// stack the stack pointer is in, and near that pointer. A bad pointer with a
// wild stack pointer (no readable stack above it) is no overflow.
bool isStackOverflow(const Fault& fault);

struct CrashPlaces {
  bool inModule = false;  // the faulting instruction is the module's own
  std::string where;      // "TAP_Main (app/Quarnel.cpp:120)": the fault, or the innermost call in the module
  std::vector<std::string> callers;  // "Outer (x.cpp:12)", "Descend (x.cpp:8), 600 times", outermost last
};

// The module file as it was when the run started, and the debug file its
// .gnu_debuglink names beside it, held open: a file put in their place during
// the run (a rebuild) does not describe the code that crashed.
class ModuleFile {
 public:
  ModuleFile() = default;
  explicit ModuleFile(std::filesystem::path path);
  ModuleFile(ModuleFile&& other) noexcept;
  ModuleFile& operator=(ModuleFile&& other) noexcept;
  ModuleFile(const ModuleFile&) = delete;
  ModuleFile& operator=(const ModuleFile&) = delete;
  ~ModuleFile();

  const std::filesystem::path& path() const { return path_; }
  int fd() const { return fd_; }            // -1 when it could not be opened
  int debugFd() const { return debugFd_; }  // -1 without a debug file beside it

 private:
  void closeAll();
  std::filesystem::path path_;
  int fd_ = -1, debugFd_ = -1;
};

// The module loaded at `base` in a process whose pointers are `pointerBytes`
// wide. In the crash reader (tapsim-crash.so), which links libdw; tapsim
// reaches it through the entry below, loaded when it writes a report.
CrashPlaces locateCrash(const ModuleFile& module, uint64_t base, unsigned pointerBytes, const Fault& fault);

inline constexpr const char* kLocateCrashEntry = "tapsim_locate_crash";
using LocateCrashEntry = void (*)(const ModuleFile* module, uint64_t base, unsigned pointerBytes, const Fault* fault,
                                  CrashPlaces* places);

}  // namespace tapsim
