#include "elfmodule.h"

#include <gelf.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <memory>
#include <system_error>

namespace tapelf {

namespace {

constexpr std::array kRecords{
    RecordSpec{"._tap_header", "__tap_Header__", 32, false},
    RecordSpec{"._tap_id", "__tap_ud__", 4, false},
    RecordSpec{"._tap_program_name", "__tap_program_name__", 64, true},
    RecordSpec{"._tap_program_version", "__tap_program_version__", 64, true},
    RecordSpec{"._tap_author_name", "__tap_author_name__", 64, true},
    RecordSpec{"._tap_description", "__tap_description__", 128, true},
    RecordSpec{"._tap_etcinfo", "__tap_etc_str__", 64, true},
};

constexpr std::array<std::string_view, 22> kEntryWords{
    "TAP_Osd_Create", "TAP_Osd_FillBox", "TAP_Osd_PutS", "TAP_Osd_Sync",
    "TAP_Osd_Delete", "TAP_Channel_GetCurrent", "TAP_Channel_Stop", "TAP_Channel_Start",
    "TAP_SystemProc", "TAP_SPrint", "TAP_Print", "TAP_Sleep",
    "TAP_MemAlloc", "TAP_MemFree", "TAP_GetSystemId", "TAP_GetVersion",
    "TAP_Hdd_Exist", "TAP_Hdd_Fopen", "TAP_Hdd_Flen", "TAP_Hdd_Fread",
    "TAP_Hdd_Fclose", "TAP_Hdd_ChangeDir",
};

constexpr std::array<std::string_view, 10> kSystemCalls{
    "dlopen", "dlsym", "dlerror", "dlclose", "open", "write", "close", "strlen", "strcpy", "memset",
};

constexpr std::array<std::string_view, 3> kReceiverNeeded{
    "/tapapi/TMS/libtap.so", "libdl.so.0", "libc.so.0",
};

// Entries the platform looks up by name besides the records.
constexpr std::array<std::string_view, 5> kFrameEntries{
    "__TAP_Init_", "abort", "__builtin_new", "_init", "_finit",
};

constexpr std::array<std::string_view, 9> kForbiddenSections{
    ".init_array", ".fini_array", ".preinit_array", ".ctors", ".dtors",
    ".eh_frame", ".eh_frame_hdr", ".gcc_except_table", ".ARM.exidx",
};

constexpr std::uint64_t kLargestModule = 64u << 20;
constexpr std::uint64_t kLargestRecord = 4096;
constexpr std::uint8_t kHeaderValue = 16;

// MIPS header flag fields; not every C library's <elf.h> names them all.
constexpr std::uint32_t kMipsPic = 0x2;
constexpr std::uint32_t kMipsCpic = 0x4;
constexpr std::uint32_t kMipsAbi2 = 0x20;
constexpr std::uint32_t kMipsNan2008 = 0x400;
constexpr std::uint32_t kMipsAbiMask = 0x0000F000;
constexpr std::uint32_t kMipsAbiO32 = 0x00001000;
constexpr std::uint32_t kMipsAbiO64 = 0x00002000;
constexpr std::uint32_t kMipsAbiEabi32 = 0x00003000;
constexpr std::uint32_t kMipsAbiEabi64 = 0x00004000;
constexpr std::uint32_t kMipsArchMask = 0xF0000000;

struct ElfCloser {
  void operator()(Elf* elf) const { elf_end(elf); }
};
using ElfHandle = std::unique_ptr<Elf, ElfCloser>;

std::string libelfError() {
  const char* message = elf_errmsg(-1);
  return message != nullptr ? message : "unknown libelf error";
}

std::string hex(std::uint64_t value) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), digits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return "0x" + text;
}

// True when [offset, offset + size) lies within a file of fileSize bytes.
bool fitsInFile(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

bool fitsInFile(std::uint64_t offset, std::uint64_t count, std::uint64_t entrySize,
                std::uint64_t fileSize) {
  if (entrySize != 0 && count > fileSize / entrySize) return false;
  return fitsInFile(offset, count * entrySize, fileSize);
}

struct Section {
  std::size_t index = 0;
  Elf_Scn* scn = nullptr;
  GElf_Shdr header{};
  std::string name;
};

// Reads one ELF image held in memory; each step fails with a sentence for people.
class Reader {
 public:
  Reader(std::span<char> image, std::string_view name) : image_(image) {
    report_.path = std::string(name);
    report_.fileSize = image.size();
  }

  Inspection run() {
    if (std::string error = readAll(); !error.empty()) return {std::nullopt, error};
    return {std::move(report_), {}};
  }

 private:
  std::string readAll() {
    if (auto error = readIdentity(); !error.empty()) return error;
    if (auto error = openElf(); !error.empty()) return error;
    if (auto error = readHeader(); !error.empty()) return error;
    if (auto error = readSections(); !error.empty()) return error;
    if (auto error = readDynamicSection(); !error.empty()) return error;
    if (auto error = readSymbols(); !error.empty()) return error;
    if (auto error = readRecords(); !error.empty()) return error;
    nameInitEntry();
    return {};
  }

  std::string readIdentity() {
    if (image_.size() < EI_NIDENT) return "the file is too short to be an ELF file";
    if (std::memcmp(image_.data(), ELFMAG, SELFMAG) != 0) return "not an ELF file (no ELF magic)";
    const auto elfClass = static_cast<unsigned char>(image_[EI_CLASS]);
    const auto data = static_cast<unsigned char>(image_[EI_DATA]);
    if (elfClass != ELFCLASS32 && elfClass != ELFCLASS64)
      return "unknown ELF class " + std::to_string(elfClass);
    if (data != ELFDATA2LSB && data != ELFDATA2MSB)
      return "unknown ELF byte order " + std::to_string(data);
    report_.elfClass = elfClass == ELFCLASS32 ? 32 : 64;
    report_.littleEndian = data == ELFDATA2LSB;
    const std::size_t headerSize = elfClass == ELFCLASS32 ? sizeof(Elf32_Ehdr) : sizeof(Elf64_Ehdr);
    if (image_.size() < headerSize)
      return "the ELF header is cut short: the file has " + std::to_string(image_.size()) +
             " bytes, the header needs " + std::to_string(headerSize);
    return {};
  }

  std::string openElf() {
    if (elf_version(EV_CURRENT) == EV_NONE) return "libelf is out of date: " + libelfError();
    elf_.reset(elf_memory(image_.data(), image_.size()));
    if (!elf_) return "libelf cannot read the file: " + libelfError();
    if (elf_kind(elf_.get()) != ELF_K_ELF) return "not an ELF object file";
    return {};
  }

  std::string readHeader() {
    GElf_Ehdr header;
    if (gelf_getehdr(elf_.get(), &header) == nullptr)
      return "unreadable ELF header: " + libelfError();
    report_.type = header.e_type;
    report_.machine = header.e_machine;
    report_.flags = header.e_flags;
    report_.osAbi = header.e_ident[EI_OSABI];
    const bool is32 = report_.elfClass == 32;
    const std::uint64_t programHeaderSize = is32 ? sizeof(Elf32_Phdr) : sizeof(Elf64_Phdr);
    const std::uint64_t sectionHeaderSize = is32 ? sizeof(Elf32_Shdr) : sizeof(Elf64_Shdr);
    if (header.e_phnum != 0) {
      if (header.e_phentsize != programHeaderSize)
        return "program header entries are " + std::to_string(header.e_phentsize) +
               " bytes, expected " + std::to_string(programHeaderSize);
      if (!fitsInFile(header.e_phoff, header.e_phnum, programHeaderSize, report_.fileSize))
        return "the program header table (offset " + hex(header.e_phoff) + ", " +
               std::to_string(header.e_phnum) + " entries) runs past the end of the file";
    }
    if (header.e_shoff == 0) return "the file has no section table";
    if (header.e_shentsize != sectionHeaderSize)
      return "section header entries are " + std::to_string(header.e_shentsize) +
             " bytes, expected " + std::to_string(sectionHeaderSize);
    if (!fitsInFile(header.e_shoff, sectionHeaderSize, report_.fileSize))
      return "the section table (offset " + hex(header.e_shoff) +
             ") lies past the end of the file (" + std::to_string(report_.fileSize) + " bytes)";
    if (elf_getshdrnum(elf_.get(), &sectionCount_) != 0)
      return "unreadable section count: " + libelfError();
    if (!fitsInFile(header.e_shoff, sectionCount_, sectionHeaderSize, report_.fileSize))
      return "the section table (offset " + hex(header.e_shoff) + ", " +
             std::to_string(sectionCount_) + " entries) runs past the end of the file (" +
             std::to_string(report_.fileSize) + " bytes)";
    if (elf_getshdrstrndx(elf_.get(), &sectionNamesIndex_) != 0)
      return "unreadable index of the section name table: " + libelfError();
    if (sectionNamesIndex_ >= sectionCount_)
      return "the section name table index " + std::to_string(sectionNamesIndex_) +
             " is outside the section table";
    return {};
  }

  std::string readSections() {
    for (std::size_t index = 1; index < sectionCount_; ++index) {
      Elf_Scn* scn = elf_getscn(elf_.get(), index);
      Section section;
      section.index = index;
      section.scn = scn;
      if (scn == nullptr || gelf_getshdr(scn, &section.header) == nullptr)
        return "unreadable section header " + std::to_string(index) + ": " + libelfError();
      auto name = stringAt(sectionNamesIndex_, section.header.sh_name);
      if (!name)
        return "the name of section " + std::to_string(index) + " lies outside the name table";
      section.name = std::move(*name);
      if (section.header.sh_type != SHT_NOBITS &&
          !fitsInFile(section.header.sh_offset, section.header.sh_size, report_.fileSize))
        return "section " + section.name + " (offset " + hex(section.header.sh_offset) +
               ", " + std::to_string(section.header.sh_size) +
               " bytes) runs past the end of the file (" + std::to_string(report_.fileSize) +
               " bytes)";
      if (section.header.sh_link >= sectionCount_)
        return "section " + section.name + " links to section " +
               std::to_string(section.header.sh_link) + ", which does not exist";
      report_.sections.push_back(section.name);
      sections_.push_back(std::move(section));
    }
    return {};
  }

  const Section* sectionOfType(std::uint32_t type) const {
    auto found = std::ranges::find_if(sections_, [type](const Section& s) {
      return s.header.sh_type == type;
    });
    return found != sections_.end() ? &*found : nullptr;
  }

  const Section* sectionAt(std::size_t index) const {
    if (index == 0 || index >= sectionCount_) return nullptr;
    return &sections_[index - 1];
  }

  // A name from a string table; libelf checks that it lies within the table.
  std::optional<std::string> stringAt(std::size_t table, std::uint64_t offset) const {
    const char* text = elf_strptr(elf_.get(), table, offset);
    if (text == nullptr) return std::nullopt;
    return std::string(text);
  }

  // Entry count of a table section whose data libelf has bounds-checked.
  std::string tableData(const Section& section, Elf_Type type, Elf_Data*& data,
                        std::size_t& count) const {
    data = elf_getdata(section.scn, nullptr);
    if (data == nullptr) return "unreadable section " + section.name + ": " + libelfError();
    const std::size_t entrySize = gelf_fsize(elf_.get(), type, 1, EV_CURRENT);
    if (entrySize == 0) return "unknown entry size in section " + section.name;
    count = data->d_size / entrySize;
    return {};
  }

  std::string readDynamicSection() {
    const Section* dynamic = sectionOfType(SHT_DYNAMIC);
    if (dynamic == nullptr) return {};
    report_.hasDynamicSection = true;
    Elf_Data* data = nullptr;
    std::size_t count = 0;
    if (auto error = tableData(*dynamic, ELF_T_DYN, data, count); !error.empty()) return error;
    for (std::size_t i = 0; i < count; ++i) {
      GElf_Dyn entry;
      if (gelf_getdyn(data, static_cast<int>(i), &entry) == nullptr)
        return "unreadable dynamic entry " + std::to_string(i) + ": " + libelfError();
      if (entry.d_tag == DT_NULL) break;
      if (auto error = takeDynamicEntry(entry, dynamic->header.sh_link); !error.empty())
        return error;
    }
    return {};
  }

  std::string takeDynamicEntry(const GElf_Dyn& entry, std::size_t strings) {
    switch (entry.d_tag) {
      case DT_NEEDED:
      case DT_RPATH:
      case DT_RUNPATH: {
        auto text = stringAt(strings, entry.d_un.d_val);
        const bool needed = entry.d_tag == DT_NEEDED;
        if (!text)
          return std::string(needed ? "a needed library name" : "a library search path") +
                 " lies outside the dynamic string table";
        (needed ? report_.needed : report_.searchPaths).push_back(*text);
        break;
      }
      case DT_INIT: report_.initAddress = entry.d_un.d_ptr; break;
      case DT_FINI: report_.hasFini = true; break;
      case DT_INIT_ARRAY: report_.hasInitArray = true; break;
      case DT_FINI_ARRAY: report_.hasFiniArray = true; break;
      case DT_PREINIT_ARRAY: report_.hasPreinitArray = true; break;
      case DT_HASH: report_.hasSysvHash = true; break;
      case DT_GNU_HASH: report_.hasGnuHash = true; break;
      case DT_TEXTREL: report_.hasTextRelocations = true; break;
      case DT_FLAGS:
        if ((entry.d_un.d_val & DF_TEXTREL) != 0) report_.hasTextRelocations = true;
        break;
      default: break;
    }
    return {};
  }

  std::string readSymbols() {
    const Section* table = sectionOfType(SHT_DYNSYM);
    if (table == nullptr) return {};
    Elf_Data* data = nullptr;
    std::size_t count = 0;
    if (auto error = tableData(*table, ELF_T_SYM, data, count); !error.empty()) return error;
    for (std::size_t i = 1; i < count; ++i) {
      GElf_Sym sym;
      if (gelf_getsym(data, static_cast<int>(i), &sym) == nullptr)
        return "unreadable dynamic symbol " + std::to_string(i) + ": " + libelfError();
      const unsigned bind = GELF_ST_BIND(sym.st_info);
      const unsigned type = GELF_ST_TYPE(sym.st_info);
      const unsigned visibility = GELF_ST_VISIBILITY(sym.st_other);
      if (bind == STB_LOCAL || type == STT_SECTION || type == STT_FILE) continue;
      Symbol symbol;
      auto name = stringAt(table->header.sh_link, sym.st_name);
      if (!name) return "the name of dynamic symbol " + std::to_string(i) + " lies outside its table";
      symbol.name = std::move(*name);
      symbol.function = type == STT_FUNC;
      symbol.value = sym.st_value;
      symbol.size = sym.st_size;
      if (sym.st_shndx == SHN_UNDEF) {
        report_.undefined.push_back(std::move(symbol));
      } else if (visibility == STV_DEFAULT || visibility == STV_PROTECTED) {
        symbolSections_.push_back(sym.st_shndx);
        report_.exported.push_back(std::move(symbol));
      }
    }
    return {};
  }

  std::string readRecords() {
    for (const RecordSpec& spec : kRecords) {
      Record record;
      record.spec = spec;
      record.littleEndian = report_.littleEndian;
      auto found = std::ranges::find(report_.exported, spec.symbol, &Symbol::name);
      if (found != report_.exported.end()) {
        record.exported = true;
        record.symbolSize = found->size;
        const auto sectionIndex = symbolSections_[found - report_.exported.begin()];
        if (const Section* section = sectionAt(sectionIndex)) readRecordContent(*section, *found, record);
      }
      report_.records.push_back(std::move(record));
    }
    return {};
  }

  static void readRecordContent(const Section& section, const Symbol& symbol, Record& record) {
    record.section = section.name;
    record.sectionSize = section.header.sh_size;
    const auto flags = section.header.sh_flags;
    record.readOnly = (flags & SHF_ALLOC) != 0 && (flags & (SHF_WRITE | SHF_EXECINSTR)) == 0;
    if (section.header.sh_type != SHT_PROGBITS || symbol.size > kLargestRecord) return;
    if (symbol.value < section.header.sh_addr) return;
    const std::uint64_t offset = symbol.value - section.header.sh_addr;
    if (!fitsInFile(offset, symbol.size, section.header.sh_size)) return;
    Elf_Data* raw = elf_rawdata(section.scn, nullptr);
    if (raw == nullptr || raw->d_buf == nullptr || !fitsInFile(offset, symbol.size, raw->d_size))
      return;
    const auto* begin = static_cast<const std::uint8_t*>(raw->d_buf) + offset;
    record.bytes.assign(begin, begin + symbol.size);
  }

  void nameInitEntry() {
    if (!report_.initAddress) return;
    const Symbol* best = nullptr;
    for (const Symbol& symbol : report_.exported) {
      if (!symbol.function || symbol.value != *report_.initAddress) continue;
      if (best == nullptr || symbol.name == "_init") best = &symbol;
    }
    if (best != nullptr) report_.initSymbol = best->name;
  }

  std::span<char> image_;
  ElfHandle elf_;
  ModuleReport report_;
  std::size_t sectionCount_ = 0;
  std::size_t sectionNamesIndex_ = 0;
  std::vector<Section> sections_;  // index i + 1 of the file
  std::vector<std::size_t> symbolSections_;  // parallel to report_.exported
};

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

std::uint32_t readWord(const std::vector<std::uint8_t>& bytes, std::size_t at, bool littleEndian) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t index = littleEndian ? at + 3 - i : at + i;
    value = value << 8 | bytes[index];
  }
  return value;
}

void checkRecordContent(const Record& record, bool littleEndian,
                        std::vector<std::string>& found) {
  const auto& bytes = record.bytes;
  const std::string name(record.spec.symbol);
  if (bytes.size() != record.spec.size) return;  // size problems are reported on their own
  if (record.spec.symbol == "__tap_Header__") {
    if (std::memcmp(bytes.data(), "TFAPMIPS", 8) != 0)
      found.push_back(name + " does not start with the 8 bytes \"TFAPMIPS\"");
    if (readWord(bytes, 8, littleEndian) != kHeaderValue)
      found.push_back(name + " holds " + std::to_string(readWord(bytes, 8, littleEndian)) +
                      " after its mark, not 16");
    if (!std::all_of(bytes.begin() + 12, bytes.end(), [](std::uint8_t b) { return b == 0; }))
      found.push_back(name + " has nonzero bytes in its last 20 bytes");
  }
  if (!record.spec.text) return;
  const auto end = std::ranges::find(bytes, std::uint8_t{0});
  if (end == bytes.end()) {
    found.push_back(name + " is not terminated within its " + std::to_string(bytes.size()) +
                    " bytes");
    return;
  }
  if (!std::all_of(end, bytes.end(), [](std::uint8_t b) { return b == 0; }))
    found.push_back(name + " is not filled up with zero bytes after its text");
  if (record.spec.symbol == "__tap_etc_str__" && !isBuildDate(recordText(record)))
    found.push_back(name + " holds \"" + recordText(record) +
                    "\", not a build date like \"Dec  8 2026\"");
}

void checkRecords(const ModuleReport& report, bool receiverByteOrder,
                  std::vector<std::string>& found) {
  for (const Record& record : report.records) {
    const std::string name(record.spec.symbol);
    const std::string size = std::to_string(record.spec.size);
    if (!record.exported) {
      found.push_back("the record " + name + " is missing (not exported)");
      continue;
    }
    if (record.symbolSize != record.spec.size)
      found.push_back("the record " + name + " is " + std::to_string(record.symbolSize) +
                      " bytes, it must be " + size);
    if (record.section != record.spec.section)
      found.push_back("the record " + name + " is in section " +
                      (record.section.empty() ? std::string("(none)") : record.section) +
                      ", it must be in " + std::string(record.spec.section));
    else if (record.sectionSize != record.spec.size)
      found.push_back("section " + record.section + " is " + std::to_string(record.sectionSize) +
                      " bytes; it must hold the " + size + "-byte record alone");
    if (!record.readOnly && !record.section.empty())
      found.push_back("the record " + name + " is not in read-only data");
    if (record.symbolSize == record.spec.size && record.bytes.size() != record.spec.size)
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
}

void checkReceiverLinkage(const ModuleReport& report, std::vector<std::string>& found) {
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
  std::vector<std::string> strangers;
  for (const Symbol& symbol : report.undefined)
    if (!contains(kEntryWords, symbol.name) && !contains(kSystemCalls, symbol.name))
      strangers.push_back(symbol.name);
  if (!strangers.empty())
    found.push_back("the module needs symbols the receiver does not provide: " +
                    joined(strangers));
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

std::span<const RecordSpec> recordSpecs() { return kRecords; }
std::span<const std::string_view> platformEntryWords() { return kEntryWords; }
std::span<const std::string_view> systemCalls() { return kSystemCalls; }
std::span<const std::string_view> receiverNeededLibraries() { return kReceiverNeeded; }

Inspection inspectBytes(std::span<const std::byte> bytes, std::string_view name) {
  // libelf may convert data in place, so it gets a private copy.
  std::vector<char> image(bytes.size());
  if (!bytes.empty()) std::memcpy(image.data(), bytes.data(), bytes.size());
  Inspection result = Reader(image, name).run();
  if (!result) result.error = std::string(name) + ": " + result.error;
  return result;
}

Inspection inspect(const std::filesystem::path& file) {
  const std::string name = file.string();
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error))
    return {std::nullopt, name + ": " + (error ? error.message() : "not a regular file")};
  const auto size = std::filesystem::file_size(file, error);
  if (error) return {std::nullopt, name + ": " + error.message()};
  if (size > kLargestModule)
    return {std::nullopt, name + ": " + std::to_string(size) + " bytes is larger than any module"};
  std::ifstream in(file, std::ios::binary);
  std::vector<std::byte> bytes(size);
  if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
    return {std::nullopt, name + ": cannot read the file"};
  return inspectBytes(bytes, name);
}

Rules rulesFor(const ModuleReport& report) {
  return report.machine == EM_MIPS ? Rules::receiver : Rules::pc;
}

std::vector<std::string> problems(const ModuleReport& report, Rules rules) {
  std::vector<std::string> found;
  if (rules == Rules::receiver) checkReceiverIdentity(report, found);
  else checkPcIdentity(report, found);
  if (report.type != ET_DYN)
    found.push_back("the module must be a shared object; this file is " + typeName(report.type));
  if (!report.hasDynamicSection) found.push_back("the file has no dynamic section");
  if (rules == Rules::receiver) {
    checkReceiverLinkage(report, found);
    checkFrameEntries(report, kFrameEntries, found);
  } else {
    checkFrameEntries(report, std::span(kFrameEntries).first(1), found);
  }
  checkRecords(report, rules == Rules::receiver, found);
  return found;
}

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
  if (record.bytes.size() != record.spec.size) return "unreadable";
  if (record.spec.text) return "\"" + recordText(record) + "\"";
  if (record.spec.symbol == "__tap_ud__") return hex(readWord(record.bytes, 0, record.littleEndian));
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
    return record.spec.symbol == symbol;
  });
  return found != report.records.end() ? &*found : nullptr;
}

}  // namespace tapelf
