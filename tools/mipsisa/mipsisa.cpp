// mipsisa: lists every instruction in MIPS files that the receiver's processor
// (MIPS32 release 1, no floating-point unit) cannot run.
#include <iostream>
#include <string_view>

#include "elfmodule.h"
#include "quarnel_version.h"

namespace {

constexpr std::string_view kUsage =
    "usage: mipsisa FILE...\n"
    "\n"
    "Disassembles the executable sections of little-endian 32-bit MIPS ELF files\n"
    "(modules, shared libraries, executables) and prints one line per instruction\n"
    "that a MIPS32 release 1 processor without a floating-point unit cannot run:\n"
    "\n"
    "  FILE: INSTRUCTION in FUNCTION+OFFSET at ADDRESS (WHY)\n"
    "\n"
    "WHY names the instruction set it belongs to (MIPS32 release 2, MIPS64, ...)\n"
    "or says floating point. FUNCTION is the nearest function symbol before it,\n"
    "from .symtab or .dynsym, or \"unknown function\".\n"
    "\n"
    "  --help     show this text\n"
    "  --version  print mipsisa's version\n"
    "\n"
    "Exit status: 0 every file is clean, 1 some instruction was found,\n"
    "2 bad usage or a file that cannot be read as little-endian 32-bit MIPS.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "mipsisa: no file given (try --help)\n";
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "mipsisa " << QUARNEL_VERSION << '\n';
      return 0;
    }
    if (arg.starts_with("-")) {
      std::cerr << "mipsisa: unknown option " << arg << " (try --help)\n";
      return 2;
    }
  }
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    const tapelf::CodeCheck check = tapelf::checkMipsCode(argv[i]);
    if (!check.error.empty()) {
      std::cerr << "mipsisa: " << check.error << '\n';
      status = 2;
      continue;
    }
    for (const auto& finding : check.findings) std::cout << tapelf::findingLine(argv[i], finding) << '\n';
    if (!check.findings.empty() && status == 0) status = 1;
  }
  return status;
}
