#include "mips_fixture.h"

#include <elf.h>

#include <cstring>

namespace mipsisa_test {

namespace {

constexpr std::uint64_t kDataAddress = 0x20000;

void align(Bytes& bytes) { bytes.resize((bytes.size() + 3) & ~std::size_t{3}); }

template <typename T>
void append(Bytes& bytes, const T& value) {
  const std::size_t at = bytes.size();
  bytes.resize(at + sizeof value);
  std::memcpy(&bytes[at], &value, sizeof value);  // the PC is little-endian too
}

std::uint32_t appendText(Bytes& table, const std::string& text) {
  const auto at = static_cast<std::uint32_t>(table.size());
  for (const char c : text) table.push_back(static_cast<std::byte>(c));
  table.push_back(std::byte{0});
  return at;
}

struct Section {
  std::string name;
  Elf32_Word type;
  Elf32_Word flags;
  Elf32_Addr address;
  Bytes content;
  Elf32_Word link = 0;
  Elf32_Word entrySize = 0;
};

Bytes words(const std::vector<std::uint32_t>& values) {
  Bytes bytes;
  for (const std::uint32_t value : values) append(bytes, value);
  return bytes;
}

}  // namespace

Bytes build(const MipsFixture& fixture) {
  Bytes names{std::byte{0}};
  Bytes symbols;
  append(symbols, Elf32_Sym{});
  for (const FixtureSymbol& function : fixture.functions) {
    Elf32_Sym symbol{};
    symbol.st_name = appendText(names, function.name);
    symbol.st_value = static_cast<Elf32_Addr>(kCodeAddress + 4 * function.word);
    symbol.st_info = ELF32_ST_INFO(function.global ? STB_GLOBAL : STB_LOCAL, STT_FUNC);
    symbol.st_shndx = 1;
    append(symbols, symbol);
  }
  const bool dynamic = fixture.dynamicSymbols;
  const Elf32_Word symbolType = dynamic ? SHT_DYNSYM : SHT_SYMTAB;
  std::vector<Section> sections{
      {".text", SHT_PROGBITS, SHF_ALLOC | SHF_EXECINSTR, kCodeAddress, words(fixture.code)},
      {".rodata", SHT_PROGBITS, SHF_ALLOC, kDataAddress, words(fixture.data)},
      {dynamic ? ".dynsym" : ".symtab", symbolType, 0, 0, symbols, 4, sizeof(Elf32_Sym)},
      {dynamic ? ".dynstr" : ".strtab", SHT_STRTAB, 0, 0, names},
      {".shstrtab", SHT_STRTAB, 0, 0, {}},
  };
  Bytes sectionNames{std::byte{0}};
  std::vector<Elf32_Word> nameOffsets;
  nameOffsets.reserve(sections.size());
  for (const Section& section : sections) nameOffsets.push_back(appendText(sectionNames, section.name));
  sections.back().content = sectionNames;

  Bytes file(sizeof(Elf32_Ehdr));
  std::vector<Elf32_Shdr> headers(1);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    align(file);
    Elf32_Shdr header{};
    header.sh_name = nameOffsets[i];
    header.sh_type = sections[i].type;
    header.sh_flags = sections[i].flags;
    header.sh_addr = static_cast<Elf32_Addr>(sections[i].address);
    header.sh_offset = static_cast<Elf32_Off>(file.size());
    header.sh_size = static_cast<Elf32_Word>(sections[i].content.size());
    header.sh_link = sections[i].link;
    header.sh_addralign = 4;
    header.sh_entsize = sections[i].entrySize;
    file.insert(file.end(), sections[i].content.begin(), sections[i].content.end());
    headers.push_back(header);
  }
  align(file);
  Elf32_Ehdr header{};
  std::memcpy(header.e_ident, ELFMAG, SELFMAG);
  header.e_ident[EI_CLASS] = ELFCLASS32;
  header.e_ident[EI_DATA] = ELFDATA2LSB;
  header.e_ident[EI_VERSION] = EV_CURRENT;
  header.e_type = ET_DYN;
  header.e_machine = fixture.machine;
  header.e_version = EV_CURRENT;
  header.e_flags = EF_MIPS_ARCH_32 | EF_MIPS_PIC | EF_MIPS_CPIC | 0x1000;  // o32
  header.e_ehsize = sizeof(Elf32_Ehdr);
  header.e_shoff = static_cast<Elf32_Off>(file.size());
  header.e_shentsize = sizeof(Elf32_Shdr);
  header.e_shnum = static_cast<Elf32_Half>(headers.size());
  header.e_shstrndx = static_cast<Elf32_Half>(headers.size() - 1);
  std::memcpy(file.data(), &header, sizeof header);
  for (const Elf32_Shdr& section : headers) append(file, section);
  return file;
}

}  // namespace mipsisa_test
