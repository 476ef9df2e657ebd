// Module facts in words a person reads.
#include <elf.h>

#include <algorithm>

#include "elfmodule.h"
#include "internal.h"

namespace tapelf {

namespace detail {

std::string hex(std::uint64_t value) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

std::uint32_t readWord(const std::vector<std::uint8_t>& bytes, std::size_t at, bool littleEndian) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t index = littleEndian ? at + 3 - i : at + i;
    value = value << 8 | bytes[index];
  }
  return value;
}

std::string mipsArchName(std::uint32_t flags) {
  switch (flags & kMipsArchMask) {
    case EF_MIPS_ARCH_1: return "MIPS I";
    case EF_MIPS_ARCH_2: return "MIPS II";
    case EF_MIPS_ARCH_3: return "MIPS III";
    case EF_MIPS_ARCH_4: return "MIPS IV";
    case EF_MIPS_ARCH_5: return "MIPS V";
    case EF_MIPS_ARCH_32: return "MIPS32";
    case EF_MIPS_ARCH_64: return "MIPS64";
    case EF_MIPS_ARCH_32R2: return "MIPS32 release 2";
    case EF_MIPS_ARCH_64R2: return "MIPS64 release 2";
    case 0x90000000: return "MIPS32 release 6";
    case 0xA0000000: return "MIPS64 release 6";
    default: return "unknown MIPS level " + hex(flags >> 28);
  }
}

std::string mipsAbiName(const ModuleReport& report) {
  if ((report.flags & kMipsAbi2) != 0) return "n32";
  switch (report.flags & kMipsAbiMask) {
    case 0: return report.elfClass == 32 ? "o32" : "n64";
    case kMipsAbiO32: return "o32";
    case kMipsAbiO64: return "o64";
    case kMipsAbiEabi32: return "EABI32";
    case kMipsAbiEabi64: return "EABI64";
    default: return "unknown (" + hex(report.flags & kMipsAbiMask) + ")";
  }
}

}  // namespace detail

using namespace detail;

std::string machineName(std::uint16_t machine) {
  switch (machine) {
    case EM_MIPS: return "MIPS";
    case EM_X86_64: return "x86-64";
    case EM_386: return "Intel 386";
    case EM_ARM: return "ARM";
    case EM_AARCH64: return "AArch64";
    case EM_RISCV: return "RISC-V";
    case EM_PPC: return "PowerPC";
    case EM_PPC64: return "PowerPC 64";
    case EM_S390: return "IBM S/390";
    case EM_SPARC: return "SPARC";
    case EM_NONE: return "no machine";
    default: return "machine number " + std::to_string(machine);
  }
}

std::string abiDescription(const ModuleReport& report) {
  if (report.machine == EM_MIPS) {
    std::string text = mipsAbiName(report) + " calling convention, " +
                       mipsArchName(report.flags) + " instruction set, ";
    text += (report.flags & kMipsPic) != 0 ? "position-independent" : "not position-independent";
    if ((report.flags & kMipsCpic) != 0) text += ", calls through the GOT";
    if ((report.flags & kMipsNan2008) != 0) text += ", IEEE 754-2008 NaN";
    return text;
  }
  switch (report.osAbi) {
    case ELFOSABI_SYSV: return "System V";
    case ELFOSABI_GNU: return "System V with GNU extensions";
    default: return "OS/ABI " + std::to_string(report.osAbi);
  }
}

std::string typeName(std::uint16_t type) {
  switch (type) {
    case ET_NONE: return "of no type";
    case ET_REL: return "a relocatable object";
    case ET_EXEC: return "an executable";
    case ET_DYN: return "a shared object";
    case ET_CORE: return "a core dump";
    default: return "of type " + std::to_string(type);
  }
}

std::string recordText(const Record& record) {
  const auto end = std::ranges::find(record.bytes, std::uint8_t{0});
  return std::string(record.bytes.begin(), end);
}

std::string describeRecord(const Record& record) {
  if (!record.exported) return "missing";
  if (record.bytes.size() != record.layout.size) return "unreadable";
  if (record.layout.text) return "\"" + recordText(record) + "\"";
  if (record.layout.symbol == "__tap_ud__") return hex(readWord(record.bytes, 0, record.littleEndian));
  std::string mark(record.bytes.begin(), record.bytes.begin() + 8);
  for (char& c : mark)
    if (c < 0x20 || c > 0x7E) c = '?';
  return "\"" + mark + "\", value " + std::to_string(readWord(record.bytes, 8, record.littleEndian));
}

const Symbol* findExported(const ModuleReport& report, std::string_view name) {
  auto found = std::ranges::find(report.exported, name, &Symbol::name);
  return found != report.exported.end() ? &*found : nullptr;
}

const Record* findRecord(const ModuleReport& report, std::string_view symbol) {
  auto found = std::ranges::find_if(report.records, [symbol](const Record& record) {
    return record.layout.symbol == symbol;
  });
  return found != report.records.end() ? &*found : nullptr;
}

}  // namespace tapelf
