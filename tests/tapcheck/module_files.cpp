#include "module_files.h"

#include <gelf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace tapcheck_test {

Bytes readFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::vector<char> chars{std::istreambuf_iterator<char>(in), {}};
  Bytes bytes(chars.size());
  std::memcpy(bytes.data(), chars.data(), chars.size());
  return bytes;
}

tapelf::Inspection inspect(const Bytes& bytes, std::string_view name) {
  return tapelf::inspectBytes(bytes, name);
}

ElfLayout::ElfLayout(const Bytes& bytes) {
  std::vector<char> image(bytes.size());
  std::memcpy(image.data(), bytes.data(), bytes.size());
  elf_version(EV_CURRENT);
  std::unique_ptr<Elf, int (*)(Elf*)> elf(elf_memory(image.data(), image.size()), elf_end);
  GElf_Ehdr header;
  if (!elf || gelf_getehdr(elf.get(), &header) == nullptr)
    throw std::runtime_error("not an intact ELF file");
  is64_ = gelf_getclass(elf.get()) == ELFCLASS64;
  sectionTable_ = header.e_shoff;
  std::size_t names = 0;
  elf_getshdrnum(elf.get(), &sectionCount_);
  elf_getshdrstrndx(elf.get(), &names);
  for (std::size_t i = 0; i < sectionCount_; ++i) {
    Elf_Scn* scn = elf_getscn(elf.get(), i);
    GElf_Shdr shdr;
    gelf_getshdr(scn, &shdr);
    const char* name = elf_strptr(elf.get(), names, shdr.sh_name);
    sectionNames_.push_back(name != nullptr ? name : "");
    if (shdr.sh_type != SHT_NOBITS && (shdr.sh_flags & SHF_ALLOC) != 0)
      placements_.push_back({shdr.sh_addr, shdr.sh_offset, shdr.sh_size});
    if (shdr.sh_type != SHT_DYNSYM) continue;
    dynsymOffset_ = shdr.sh_offset;
    Elf_Data* data = elf_getdata(scn, nullptr);
    const std::size_t count = shdr.sh_size / shdr.sh_entsize;
    for (std::size_t s = 0; s < count; ++s) {
      GElf_Sym sym;
      gelf_getsym(data, static_cast<int>(s), &sym);
      const char* symbolName = elf_strptr(elf.get(), shdr.sh_link, sym.st_name);
      dynamicSymbols_.push_back(symbolName != nullptr ? symbolName : "");
    }
  }
}

std::size_t ElfLayout::sectionIndex(std::string_view name) const {
  for (std::size_t i = 0; i < sectionNames_.size(); ++i)
    if (sectionNames_[i] == name) return i;
  throw std::runtime_error("no section " + std::string(name));
}

std::size_t ElfLayout::dynamicSymbolIndex(std::string_view name) const {
  for (std::size_t i = 0; i < dynamicSymbols_.size(); ++i)
    if (dynamicSymbols_[i] == name) return i;
  throw std::runtime_error("no dynamic symbol " + std::string(name));
}

std::size_t ElfLayout::fileOffsetOf(std::uint64_t address) const {
  for (const Placement& p : placements_)
    if (address >= p.address && address - p.address < p.size) return p.offset + (address - p.address);
  throw std::runtime_error("no section holds address " + std::to_string(address));
}

std::size_t ElfLayout::sectionHeader(std::size_t section) const {
  return sectionTable_ + section * (is64_ ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr));
}

std::size_t ElfLayout::sectionNameField(std::size_t section) const { return sectionHeader(section); }
std::size_t ElfLayout::sectionOffsetField(std::size_t section) const {
  return sectionHeader(section) + (is64_ ? 24 : 16);
}
std::size_t ElfLayout::sectionSizeField(std::size_t section) const {
  return sectionHeader(section) + (is64_ ? 32 : 20);
}
std::size_t ElfLayout::sectionLinkField(std::size_t section) const {
  return sectionHeader(section) + (is64_ ? 40 : 24);
}
std::size_t ElfLayout::symbolNameField(std::size_t symbol) const {
  return dynsymOffset_ + symbol * (is64_ ? sizeof(Elf64_Sym) : sizeof(Elf32_Sym));
}
std::size_t ElfLayout::symbolSizeField(std::size_t symbol) const {
  return symbolNameField(symbol) + (is64_ ? 16 : 8);
}

void put(Bytes& bytes, std::size_t offset, std::uint64_t value, std::size_t width) {
  if (offset + width > bytes.size()) throw std::out_of_range("field past the end of the file");
  for (std::size_t i = 0; i < width; ++i)
    bytes[offset + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
}

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

}  // namespace tapcheck_test
