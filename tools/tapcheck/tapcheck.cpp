// tapcheck: tells whether a file is a module the receiver (or this PC's
// simulator) can load, and what the loader will find in it.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "elfmodule.h"
#include "quarnel_version.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tapcheck [--receiver | --pc] [--sysroot DIR] [--quiet] FILE\n"
    "\n"
    "Reads a module file and reports what the loader needs of it: ELF class,\n"
    "machine, byte order and ABI; the identification records and their contents;\n"
    "the needed libraries in order; the init entry; exported and undefined\n"
    "symbols; and anything that would stop a load (constructors, unwind tables,\n"
    "unexpected dependencies).\n"
    "\n"
    "A receiver module may import the platform's entry words and whatever the\n"
    "receiver's C library and loader export; tapcheck reads them from the\n"
    "receiver build's sysroot (lib/libc.so.0, lib/libdl.so.0): the one installed\n"
    "with it, the one TAPSIM_MIPSEL_DIR names (a receiver build), or --sysroot.\n"
    "\n"
    "  --receiver  judge the file by the receiver's rules (the default for MIPS files)\n"
    "  --pc        judge the file by this PC's rules (the default for other files)\n"
    "  --sysroot DIR  the receiver's sysroot, whose C library the module's imports are judged by\n"
    "  --quiet     print only the verdict\n"
    "  --help      show this text\n"
    "  --version   print tapcheck's version\n"
    "\n"
    "Exit status: 0 loadable, 1 not loadable, 2 unreadable file, no receiver C library\n"
    "to judge a receiver module by, or bad usage.\n";

struct Options {
  std::string file;
  std::filesystem::path sysroot;
  std::optional<tapelf::Rules> rules;
  bool quiet = false;
};

std::optional<Options> parseArguments(int argc, char** argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--receiver") options.rules = tapelf::Rules::receiver;
    else if (arg == "--pc") options.rules = tapelf::Rules::pc;
    else if (arg == "--quiet") options.quiet = true;
    else if (arg == "--sysroot" && i + 1 < argc) options.sysroot = argv[++i];
    else if (arg == "--sysroot") error = "--sysroot needs a folder";
    else if (arg.starts_with("-") && arg != "-") error = "unknown option " + std::string(arg);
    else if (!options.file.empty()) error = "more than one file given";
    else options.file = arg;
    if (!error.empty()) return std::nullopt;
  }
  if (options.file.empty()) {
    error = "no file given (try --help)";
    return std::nullopt;
  }
  return options;
}

std::string rulesName(tapelf::Rules rules) {
  return rules == tapelf::Rules::receiver ? "the receiver" : "this PC";
}

void printList(std::string_view label, const std::vector<std::string>& items) {
  std::cout << label;
  if (items.empty()) std::cout << " none";
  for (std::size_t i = 0; i < items.size(); ++i) std::cout << (i == 0 ? " " : ", ") << items[i];
  std::cout << '\n';
}

std::vector<std::string> sortedNames(const std::vector<tapelf::Symbol>& symbols) {
  std::vector<std::string> names;
  names.reserve(symbols.size());
  for (const auto& symbol : symbols) names.push_back(symbol.name);
  std::ranges::sort(names);
  return names;
}

bool isOneOf(std::span<const std::string_view> names, std::string_view name) {
  return std::ranges::find(names, name) != names.end();
}

void printIdentity(const tapelf::ModuleReport& report) {
  std::cout << "File:         " << report.path << " (" << report.fileSize << " bytes)\n"
            << "ELF:          " << report.elfClass << "-bit, "
            << (report.littleEndian ? "little-endian" : "big-endian") << ", "
            << tapelf::typeName(report.type) << '\n'
            << "Machine:      " << tapelf::machineName(report.machine) << '\n'
            << "ABI:          " << tapelf::abiDescription(report) << '\n';
}

std::string padded(std::string_view text, std::size_t width, bool right = false) {
  const std::string fill(text.size() < width ? width - text.size() : 0, ' ');
  return right ? fill + std::string(text) : std::string(text) + fill;
}

void printRecords(const tapelf::ModuleReport& report) {
  std::cout << "Records:\n";
  for (const tapelf::Record& record : report.records) {
    std::cout << "  " << padded(record.layout.section, 22) << ' ' << padded(record.layout.symbol, 24)
              << ' ' << padded(std::to_string(record.symbolSize), 4, true) << " bytes  "
              << tapelf::describeRecord(record) << '\n';
  }
}

std::vector<std::string> sectionsAmong(const tapelf::ModuleReport& report,
                                       std::initializer_list<std::string_view> names) {
  std::vector<std::string> found;
  for (const std::string& section : report.sections)
    if (std::ranges::find(names, section) != names.end()) found.push_back(section);
  return found;
}

std::vector<std::string> constructorSigns(const tapelf::ModuleReport& report) {
  auto found = sectionsAmong(report, {".init_array", ".fini_array", ".preinit_array", ".ctors", ".dtors"});
  if (report.hasInitArray) found.push_back("DT_INIT_ARRAY");
  if (report.hasFiniArray) found.push_back("DT_FINI_ARRAY");
  if (report.hasPreinitArray) found.push_back("DT_PREINIT_ARRAY");
  return found;
}

// A tapcheck in its build folder reads the receiver build's sysroot; an
// installed one reads only its own installation's (QUARNEL_BOARDS_FROM_BIN),
// so that a part missing from it is named rather than taken from elsewhere.
std::filesystem::path receiverSysroot() {
  const char* named = std::getenv("TAPSIM_MIPSEL_DIR");
  if (named != nullptr && *named != '\0') return std::filesystem::path(named) / "sysroot";
  std::error_code ec;
  const auto own = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  if (std::filesystem::equivalent(own, QUARNEL_TAPCHECK_BUILD_DIR, ec))
    return std::filesystem::path(QUARNEL_MIPSEL_DIR) / "sysroot";
  return (own / QUARNEL_BOARDS_FROM_BIN / "mipsel" / "sysroot").lexically_normal();
}

void printLinkage(const tapelf::ModuleReport& report, const tapelf::SystemLibrary& library) {
  printList("Needs:       ", report.needed);
  if (!report.searchPaths.empty()) printList("Search path: ", report.searchPaths);
  std::cout << "Init entry:   ";
  if (!report.initAddress) std::cout << "none";
  else if (report.initSymbol.empty()) std::cout << "an unnamed address";
  else std::cout << report.initSymbol;
  std::cout << (report.hasFini ? "; a finalisation entry is named" : "; no finalisation entry")
            << '\n';
  printList("Constructors:", constructorSigns(report));
  printList("Unwind data: ", sectionsAmong(report, {".eh_frame", ".eh_frame_hdr", ".gcc_except_table"}));
  std::cout << "Symbol hash:  " << (report.hasSysvHash ? "DT_HASH" : "no DT_HASH")
            << (report.hasGnuHash ? ", DT_GNU_HASH" : "") << '\n';
  const auto exported = sortedNames(report.exported);
  std::cout << "Exported (" << exported.size() << "):";
  printList("", exported);
  std::vector<std::string> entryWords, systemCalls, others;
  for (const std::string& name : sortedNames(report.undefined)) {
    if (isOneOf(tapelf::platformEntryWords(), name)) entryWords.push_back(name);
    else if (library.provides(name)) systemCalls.push_back(name);
    else others.push_back(name);
  }
  std::cout << "Undefined, platform entry words (" << entryWords.size() << "):";
  printList("", entryWords);
  std::cout << "Undefined, C library and loader (" << systemCalls.size() << "):";
  printList("", systemCalls);
  if (!others.empty()) {
    std::cout << "Undefined, anything else (" << others.size() << "):";
    printList("", others);
  }
}

void printReport(const tapelf::ModuleReport& report, const tapelf::SystemLibrary& library) {
  printIdentity(report);
  printRecords(report);
  printLinkage(report, library);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (std::string_view(argv[i]) == "--version") {
      std::cout << "tapcheck " << QUARNEL_VERSION << '\n';
      return 0;
    }
  }
  std::string error;
  const auto options = parseArguments(argc, argv, error);
  if (!options) {
    std::cerr << "tapcheck: " << error << '\n';
    return 2;
  }
  const tapelf::Inspection inspection = tapelf::inspect(options->file);
  if (!inspection) {
    std::cerr << "tapcheck: " << inspection.error << '\n';
    return 2;
  }
  const tapelf::ModuleReport& report = *inspection.report;
  const tapelf::Rules rules = options->rules.value_or(tapelf::rulesFor(report));
  const auto sysroot = options->sysroot.empty() ? receiverSysroot() : options->sysroot;
  const tapelf::SystemLibrary library = tapelf::readSystemLibrary(sysroot);
  // The PC's rules need no receiver; its C library only sorts the names listed.
  if (rules == tapelf::Rules::receiver && !library.error.empty()) {
    std::cerr << "tapcheck: " << library.error
              << " (build the receiver preset, or name a receiver sysroot with --sysroot)\n";
    return 2;
  }
  const auto problems = tapelf::problems(report, rules, library);
  if (!options->quiet) printReport(report, library);
  if (problems.empty()) {
    std::cout << "Verdict:      loadable on " << rulesName(rules);
    if (rules == tapelf::Rules::receiver)
      std::cout << " (no constructors, no unwind tables, no unexpected dependencies)";
    std::cout << '\n';
    return 0;
  }
  if (!options->quiet) {
    std::cout << "Problems:\n";
    for (const auto& problem : problems) std::cout << "  - " << problem << '\n';
  }
  std::cout.flush();
  std::cerr << "tapcheck: " << report.path << " is not loadable on " << rulesName(rules) << ": "
            << problems.front()
            << (problems.size() > 1 ? " (and " + std::to_string(problems.size() - 1) + " more)" : "")
            << '\n';
  return 1;
}
