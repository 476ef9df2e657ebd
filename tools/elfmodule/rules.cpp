// What the receiver and the PC simulator each demand of a module, as sentences
// that say what is wrong.
#include <elf.h>

#include <algorithm>
#include <cstring>

#include "elfmodule.h"
#include "internal.h"

namespace tapelf {

namespace {

using namespace detail;

bool contains(std::span<const std::string_view> names, std::string_view name) {
  return std::ranges::find(names, name) != names.end();
}

bool isUnwindSection(std::string_view section) {
  return section == ".eh_frame" || section == ".eh_frame_hdr" ||
         section == ".gcc_except_table" || section == ".ARM.exidx";
}

std::string joined(const std::vector<std::string>& items, std::string_view separator = ", ") {
  std::string text;
  for (const auto& item : items) {
    if (!text.empty()) text += separator;
    text += item;
  }
  return text;
}

std::uint16_t hostMachine() {
#if defined(__x86_64__)
  return EM_X86_64;
#elif defined(__i386__)
  return EM_386;
#elif defined(__aarch64__)
  return EM_AARCH64;
#elif defined(__arm__)
  return EM_ARM;
#elif defined(__mips__)
  return EM_MIPS;
#elif defined(__riscv)
  return EM_RISCV;
#elif defined(__powerpc64__)
  return EM_PPC64;
#else
  return EM_NONE;
#endif
}

constexpr unsigned hostClass = sizeof(void*) * 8;
constexpr bool hostLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

bool isMipsO32(const ModuleReport& report) {
  if (report.elfClass != 32 || (report.flags & kMipsAbi2) != 0) return false;
  const auto abi = report.flags & kMipsAbiMask;
  return abi == 0 || abi == kMipsAbiO32;
}

bool runsOnMips32(std::uint32_t flags) {
  const auto arch = flags & kMipsArchMask;
  return arch == EF_MIPS_ARCH_1 || arch == EF_MIPS_ARCH_2 || arch == EF_MIPS_ARCH_32;
}

bool isBuildDate(std::string_view text) {
  static constexpr std::array<std::string_view, 12> months{
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (text.size() != 11 || !contains(months, text.substr(0, 3))) return false;
  if (text[3] != ' ' || text[6] != ' ') return false;
  if (!(text[4] == ' ' || (text[4] >= '1' && text[4] <= '3')) || !digit(text[5])) return false;
  const int day = (text[4] == ' ' ? 0 : text[4] - '0') * 10 + (text[5] - '0');
  if (day < 1 || day > 31) return false;
  return std::all_of(text.begin() + 7, text.end(), digit);
}

void checkRecordContent(const Record& record, bool littleEndian,
                        std::vector<std::string>& found) {
  const auto& bytes = record.bytes;
  const std::string name(record.layout.symbol);
  if (bytes.size() != record.layout.size) return;  // size problems are reported on their own
  if (record.layout.symbol == "__tap_Header__") {
    if (std::memcmp(bytes.data(), "TFAPMIPS", 8) != 0)
      found.push_back(name + " does not start with the 8 bytes \"TFAPMIPS\"");
    if (readWord(bytes, 8, littleEndian) != kHeaderValue)
      found.push_back(name + " holds " + std::to_string(readWord(bytes, 8, littleEndian)) +
                      " after its mark, not 16");
    if (!std::all_of(bytes.begin() + 12, bytes.end(), [](std::uint8_t b) { return b == 0; }))
      found.push_back(name + " has nonzero bytes in its last 20 bytes");
  }
  if (!record.layout.text) return;
  const auto end = std::ranges::find(bytes, std::uint8_t{0});
  if (end == bytes.end()) {
    found.push_back(name + " is not terminated within its " + std::to_string(bytes.size()) +
                    " bytes");
    return;
  }
  if (!std::all_of(end, bytes.end(), [](std::uint8_t b) { return b == 0; }))
    found.push_back(name + " is not filled up with zero bytes after its text");
  if (record.layout.symbol == "__tap_etc_str__" && !isBuildDate(recordText(record)))
    found.push_back(name + " holds \"" + recordText(record) +
                    "\", not a build date like \"Dec  8 2026\"");
}

void checkRecords(const ModuleReport& report, bool receiverByteOrder,
                  std::vector<std::string>& found) {
  for (const Record& record : report.records) {
    const std::string name(record.layout.symbol);
    const std::string size = std::to_string(record.layout.size);
    if (!record.exported) {
      found.push_back("the record " + name + " is missing (not exported)");
      continue;
    }
    if (record.symbolSize != record.layout.size)
      found.push_back("the record " + name + " is " + std::to_string(record.symbolSize) +
                      " bytes, it must be " + size);
    if (record.section != record.layout.section)
      found.push_back("the record " + name + " is in section " +
                      (record.section.empty() ? std::string("(none)") : record.section) +
                      ", it must be in " + std::string(record.layout.section));
    else if (record.sectionSize != record.layout.size)
      found.push_back("section " + record.section + " is " + std::to_string(record.sectionSize) +
                      " bytes; it must hold the " + size + "-byte record alone");
    if (!record.readOnly && !record.section.empty())
      found.push_back("the record " + name + " is not in read-only data");
    if (record.symbolSize == record.layout.size && record.bytes.size() != record.layout.size)
      found.push_back("the content of record " + name + " lies outside the file");
    checkRecordContent(record, receiverByteOrder || report.littleEndian, found);
  }
}

void checkFrameEntries(const ModuleReport& report, std::span<const std::string_view> names,
                       std::vector<std::string>& found) {
  for (std::string_view name : names) {
    const Symbol* symbol = findExported(report, name);
    if (symbol == nullptr)
      found.push_back("the entry " + std::string(name) + " is not exported");
    else if (!symbol->function)
      found.push_back("the entry " + std::string(name) + " is exported but is not a function");
  }
}

// The first few by name; the rest are counted, since mipsisa lists them all.
void checkReceiverCode(const ModuleReport& report, std::vector<std::string>& found) {
  constexpr std::size_t kNamed = 8;
  const auto& findings = report.codeFindings;
  for (std::size_t i = 0; i < findings.size() && i < kNamed; ++i)
    found.push_back(findingLine(report.path, findings[i]) +
                    ": the receiver's processor (MIPS32 release 1, no FPU) cannot run it");
  if (findings.size() > kNamed)
    found.push_back("and " + std::to_string(findings.size() - kNamed) +
                    " more instructions the receiver's processor cannot run (mipsisa " + report.path +
                    " lists them all)");
}

void checkReceiverIdentity(const ModuleReport& report, std::vector<std::string>& found) {
  if (report.elfClass != 32)
    found.push_back("the receiver needs a 32-bit ELF file; this one is 64-bit");
  if (!report.littleEndian)
    found.push_back("the receiver needs a little-endian file; this one is big-endian");
  if (report.machine != EM_MIPS) {
    found.push_back("the receiver runs MIPS code; this module is for " +
                    machineName(report.machine));
    return;
  }
  if (!isMipsO32(report))
    found.push_back("the receiver needs the o32 calling convention; this module uses " +
                    mipsAbiName(report));
  if (!runsOnMips32(report.flags))
    found.push_back("the receiver runs the MIPS32 instruction set; this module needs " +
                    mipsArchName(report.flags));
  if ((report.flags & kMipsPic) == 0)
    found.push_back("the module is not position-independent code");
  if ((report.flags & kMipsNan2008) != 0)
    found.push_back("the module uses the IEEE 754-2008 NaN encoding, which the receiver lacks");
  checkReceiverCode(report, found);
}

void checkReceiverLinkage(const ModuleReport& report, const SystemLibrary& library,
                          std::vector<std::string>& found) {
  const std::vector<std::string> expected(kReceiverNeeded.begin(), kReceiverNeeded.end());
  if (report.needed != expected)
    found.push_back("the module needs [" + joined(report.needed) +
                    "]; the receiver provides exactly [" + joined(expected) +
                    "], in that order");
  if (!report.searchPaths.empty())
    found.push_back("the module carries a library search path (" + joined(report.searchPaths) +
                    "), which means nothing on the receiver");
  if (!report.hasSysvHash)
    found.push_back("the module has no DT_HASH symbol table, which every loader can read");
  if (!report.initAddress)
    found.push_back("the dynamic section names no initialisation function (DT_INIT _init)");
  else if (report.initSymbol != "_init")
    found.push_back("the dynamic section's initialisation function at " +
                    hex(*report.initAddress) + " is not the module's exported _init");
  if (report.hasFini)
    found.push_back("the dynamic section names a finalisation function (DT_FINI); it must not");
  if (report.hasInitArray || report.hasPreinitArray)
    found.push_back("the module has static constructors (DT_INIT_ARRAY or DT_PREINIT_ARRAY)");
  if (report.hasFiniArray) found.push_back("the module has static destructors (DT_FINI_ARRAY)");
  for (const std::string& section : report.sections)
    if (contains(kForbiddenSections, section))
      found.push_back("the module has a " + section + " section (" +
                      (isUnwindSection(section) ? "unwind or exception tables"
                                                : "static constructors or destructors") +
                      ")");
  if (!library.error.empty()) return found.push_back(library.error);
  const std::vector<std::string> strangers = importsTheReceiverLacks(report, library);
  if (!strangers.empty())
    found.push_back("the module needs symbols the receiver does not provide: " +
                    joined(strangers));
}

// The module carries its own run-time entries; the C++ run time must stay out.
void checkRunTimeLibraries(const ModuleReport& report, std::vector<std::string>& found) {
  for (const std::string& library : report.needed)
    if (library.starts_with("libstdc++") || library.starts_with("libgcc_s"))
      found.push_back("the module depends on the C++ run time (" + library + ")");
}

void checkPcIdentity(const ModuleReport& report, std::vector<std::string>& found) {
  if (report.machine != hostMachine())
    found.push_back("this PC runs " + machineName(hostMachine()) + " code; the module is for " +
                    machineName(report.machine));
  else if (report.elfClass != hostClass)
    found.push_back("this PC needs a " + std::to_string(hostClass) + "-bit ELF file; this one is " +
                    std::to_string(report.elfClass) + "-bit");
  if (report.littleEndian != hostLittleEndian)
    found.push_back(std::string("this PC needs a ") +
                    (hostLittleEndian ? "little" : "big") + "-endian file");
}

}  // namespace

std::span<const RecordLayout> recordLayouts() { return kRecords; }
std::span<const std::string_view> platformEntryWords() { return kEntryWords; }
std::span<const std::string_view> receiverNeededLibraries() { return kReceiverNeeded; }

Rules rulesFor(const ModuleReport& report) {
  return report.machine == EM_MIPS ? Rules::receiver : Rules::pc;
}

std::vector<std::string> problems(const ModuleReport& report, Rules rules, const SystemLibrary& library) {
  std::vector<std::string> found;
  if (rules == Rules::receiver) checkReceiverIdentity(report, found);
  else checkPcIdentity(report, found);
  if (report.type != ET_DYN)
    found.push_back("the module must be a shared object; this file is " + typeName(report.type));
  if (!report.hasDynamicSection) found.push_back("the file has no dynamic section");
  checkRunTimeLibraries(report, found);
  if (rules == Rules::receiver) {
    checkReceiverLinkage(report, library, found);
    checkFrameEntries(report, kFrameEntries, found);
  } else {
    checkFrameEntries(report, std::span(kFrameEntries).first(1), found);
  }
  checkRecords(report, rules == Rules::receiver, found);
  return found;
}

}  // namespace tapelf
