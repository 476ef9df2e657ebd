// The reader: libelf does the decoding; every offset and size it will follow
// is first checked against the length of the file.
#include <gelf.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <system_error>

#include "elfmodule.h"
#include "internal.h"

namespace tapelf {

namespace {

using namespace detail;

constexpr std::uint64_t kLargestModule = 64u << 20;
constexpr std::uint64_t kLargestRecord = 4096;

struct ElfCloser {
  void operator()(Elf* elf) const { elf_end(elf); }
};
using ElfHandle = std::unique_ptr<Elf, ElfCloser>;

std::string libelfError() {
  const char* message = elf_errmsg(-1);
  return message != nullptr ? message : "unknown libelf error";
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
  Reader(std::span<char> image, std::string_view name, Code code) : image_(image), code_(code) {
    report_.path = std::string(name);
    report_.fileSize = image.size();
  }

  Inspection run() {
    if (std::string error = readAll(); !error.empty()) return {std::nullopt, error, environment_};
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
    return checkCode();
  }

  std::string checkCode() {
    if (code_ == Code::skip) return {};
    if (report_.machine != EM_MIPS || report_.elfClass != 32 || !report_.littleEndian) return {};
    report_.codeChecked = true;
    if (auto error = findLaterInstructions(elf_.get(), report_.codeFindings, environment_); !error.empty())
      return "cannot check the code: " + error;
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
      symbol.weak = bind == STB_WEAK;
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
    for (const RecordLayout& layout : kRecords) {
      Record record;
      record.layout = layout;
      record.littleEndian = report_.littleEndian;
      auto found = std::ranges::find(report_.exported, layout.symbol, &Symbol::name);
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
  Code code_;
  ElfHandle elf_;
  ModuleReport report_;
  std::size_t sectionCount_ = 0;
  std::size_t sectionNamesIndex_ = 0;
  bool environment_ = false;
  std::vector<Section> sections_;  // index i + 1 of the file
  std::vector<std::size_t> symbolSections_;  // parallel to report_.exported
};

}  // namespace

Inspection inspectBytes(std::span<const std::byte> bytes, std::string_view name, Code code) {
  // libelf may convert data in place, so it gets a private copy.
  std::vector<char> image(bytes.size());
  if (!bytes.empty()) std::memcpy(image.data(), bytes.data(), bytes.size());
  Inspection result = Reader(image, name, code).run();
  if (!result) result.error = std::string(name) + ": " + result.error;
  return result;
}

Inspection inspect(const std::filesystem::path& file, Code code) {
  const std::string name = file.string();
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error))
    return {std::nullopt, name + ": " + (error ? error.message() : "not a regular file")};
  const auto size = std::filesystem::file_size(file, error);
  if (error) return {std::nullopt, name + ": " + error.message()};
  if (size > kLargestModule)
    return {std::nullopt, name + ": " + std::to_string(size) + " bytes is larger than the reader takes (" +
                                std::to_string(kLargestModule >> 20) + " MiB)"};
  // Read straight into the reader's own copy: a second one would be as many
  // fresh pages again, which is most of what reading a module costs.
  std::ifstream in(file, std::ios::binary);
  std::vector<char> image(size);
  if (!in || !in.read(image.data(), static_cast<std::streamsize>(size)))
    return {std::nullopt, name + ": cannot read the file"};
  Inspection result = Reader(image, name, code).run();
  if (!result) result.error = name + ": " + result.error;
  return result;
}

}  // namespace tapelf
