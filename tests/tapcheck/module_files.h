// Module files for the reader's tests: the real builds, and a way to break a
// copy of one at a precise field.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "elfmodule.h"

namespace tapcheck_test {

using Bytes = std::vector<std::byte>;

Bytes readFile(const std::filesystem::path& file);
tapelf::Inspection inspect(const Bytes& bytes, std::string_view name = "module");

// Where the fields of an ELF file lie, found through libelf on an intact file.
class ElfLayout {
 public:
  explicit ElfLayout(const Bytes& bytes);

  bool is64() const { return is64_; }
  std::size_t sectionCount() const { return sectionCount_; }
  std::size_t sectionIndex(std::string_view name) const;  // throws when absent
  std::size_t dynamicSymbolIndex(std::string_view name) const;  // throws when absent

  // File offsets of header fields.
  // NOLINTNEXTLINE(readability-convert-member-functions-to-static): asked like the other fields of a layout
  std::size_t machineField() const { return 18; }
  std::size_t sectionTableOffsetField() const { return is64_ ? 40 : 32; }
  std::size_t sectionEntrySizeField() const { return is64_ ? 58 : 46; }
  std::size_t sectionNameIndexField() const { return is64_ ? 62 : 50; }
  std::size_t sectionNameField(std::size_t section) const;
  std::size_t sectionOffsetField(std::size_t section) const;
  std::size_t sectionSizeField(std::size_t section) const;
  std::size_t sectionLinkField(std::size_t section) const;
  std::size_t symbolSizeField(std::size_t symbol) const;
  std::size_t symbolNameField(std::size_t symbol) const;
  std::size_t addressWidth() const { return is64_ ? 8 : 4; }
  std::size_t fileOffsetOf(std::uint64_t address) const;  // throws when no section holds it

 private:
  std::size_t sectionHeader(std::size_t section) const;

  bool is64_ = false;
  std::uint64_t sectionTable_ = 0;
  std::size_t sectionCount_ = 0;
  std::vector<std::string> sectionNames_;
  struct Placement {
    std::uint64_t address, offset, size;
  };
  std::vector<Placement> placements_;  // of the sections with content in the file
  std::uint64_t dynsymOffset_ = 0;
  std::vector<std::string> dynamicSymbols_;
};

// Writes a little-endian value of width bytes at offset.
void put(Bytes& bytes, std::size_t offset, std::uint64_t value, std::size_t width);

bool contains(const std::string& text, std::string_view part);
std::string joined(const std::vector<std::string>& lines);

}  // namespace tapcheck_test
