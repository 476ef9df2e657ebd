// Small little-endian MIPS32 ELF files made from instruction words, for the
// processor check: code in .text with function symbols, words in .rodata that
// are never executed.
#pragma once
#include <elf.h>

#include <cstdint>
#include <string>
#include <vector>

#include "module_files.h"

namespace mipsisa_test {

using tapcheck_test::Bytes;

inline constexpr std::uint64_t kCodeAddress = 0x10000;
inline constexpr std::uint32_t kWsbh = 0x7C0310A0;  // wsbh $v0, $v1: release 2
inline constexpr std::uint32_t kAddS = 0x46041000;  // add.s $f0, $f2, $f4: floating point

struct FixtureSymbol {
  std::string name;
  std::size_t word = 0;  // index into the code
  bool global = true;
};

struct MipsFixture {
  std::vector<std::uint32_t> code{};
  std::vector<FixtureSymbol> functions{};
  std::vector<std::uint32_t> data{};
  bool dynamicSymbols = false;  // .dynsym and .dynstr rather than .symtab and .strtab
  std::uint16_t machine = EM_MIPS;
};

Bytes build(const MipsFixture& fixture);

}  // namespace mipsisa_test
