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

// A fault on the stack pointer's own neighbourhood.
bool isStackOverflow(const Fault& fault);

struct CrashPlaces {
  bool inModule = false;  // the faulting instruction is the module's own
  std::string where;      // "TAP_Main (app/Quarnel.cpp:120)": the fault, or the innermost call in the module
  std::vector<std::string> callers;  // "Outer (x.cpp:12)", "Descend (x.cpp:8), 600 times", outermost last
};

// The module loaded at `base` in a process whose pointers are `pointerBytes` wide.
CrashPlaces locateCrash(const std::filesystem::path& module, uint64_t base, unsigned pointerBytes,
                        const Fault& fault);

}  // namespace tapsim
