// Broken copies of the PC build: each is refused with a reason that names what
// is wrong, and no corruption makes the reader crash or read past the file.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "module_files.h"

namespace {

using namespace tapcheck_test;

const Bytes& pcModule() {
  static const Bytes bytes = readFile(QUARNEL_PC_MODULE);
  return bytes;
}

std::size_t find(const Bytes& bytes, std::string_view text) {
  const auto* begin = reinterpret_cast<const char*>(bytes.data());
  const std::string_view all(begin, bytes.size());
  const auto at = all.find(text);
  if (at == std::string_view::npos) throw std::runtime_error("no \"" + std::string(text) + "\"");
  return at;
}

std::uint64_t get(const Bytes& bytes, std::size_t offset, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = value << 8 | std::to_integer<std::uint8_t>(bytes[offset + i]);
  return value;
}

struct BrokenFile {
  const char* name;
  std::function<void(Bytes&, const ElfLayout&)> breakIt;
  const char* reason;      // part of the error, or of a problem when still readable
  bool readable = false;   // the reader still gives a report, with problems
};

void cut(Bytes& bytes, std::size_t size) { bytes.resize(std::min(size, bytes.size())); }

const BrokenFile kBrokenFiles[] = {
    {"EmptyFile", [](Bytes& b, const ElfLayout&) { b.clear(); }, "too short to be an ELF file"},
    {"CutInsideIdentity", [](Bytes& b, const ElfLayout&) { cut(b, 10); }, "too short"},
    {"CutInsideHeader", [](Bytes& b, const ElfLayout&) { cut(b, 40); }, "ELF header is cut short"},
    {"CutInHalf", [](Bytes& b, const ElfLayout&) { cut(b, b.size() / 2); }, "past the end of the file"},
    {"NotElf", [](Bytes& b, const ElfLayout&) { std::memset(b.data(), 'x', 64); }, "not an ELF file"},
    {"SectionTablePastTheEnd",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionTableOffsetField(), b.size() + 64, l.addressWidth()); },
     "lies past the end of the file"},
    {"SectionTableOffsetWrapsAround",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionTableOffsetField(), ~std::uint64_t{0} - 8, l.addressWidth()); },
     "past the end of the file"},
    {"WrongSectionEntrySize",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionEntrySizeField(), 20, 2); },
     "section header entries are 20 bytes"},
    {"NameTableIndexOutsideTheTable",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionNameIndexField(), l.sectionCount() + 5, 2); },
     "the section name table index"},
    {"SectionDataPastTheEnd",
     [](Bytes& b, const ElfLayout& l) {
       put(b, l.sectionOffsetField(l.sectionIndex("._tap_etcinfo")), b.size() - 10, l.addressWidth());
     },
     "section ._tap_etcinfo"},
    {"SectionSizeBeyondTheFile",
     [](Bytes& b, const ElfLayout& l) {
       put(b, l.sectionSizeField(l.sectionIndex(".dynsym")), 0x7FFFFFF0, l.addressWidth());
     },
     "runs past the end of the file"},
    {"SectionNameOutsideTheNameTable",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionNameField(1), 0xFFFFFF, 4); },
     "lies outside the name table"},
    {"SectionLinkToNoSection",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionLinkField(l.sectionIndex(".dynsym")), 999, 4); },
     "which does not exist"},
    {"SymbolNameOutsideItsTable",
     [](Bytes& b, const ElfLayout& l) { put(b, l.symbolNameField(l.dynamicSymbolIndex("abort")), 0xFFFFFF, 4); },
     "lies outside its table"},
    {"WrongMachine",
     [](Bytes& b, const ElfLayout& l) { put(b, l.machineField(), EM_ARM, 2); },
     "the module is for ARM", true},
    {"MissingRecord",
     [](Bytes& b, const ElfLayout& l) {
       const auto field = l.symbolNameField(l.dynamicSymbolIndex("__tap_ud__"));
       put(b, field, get(b, field, 4) + 1, 4);  // now named "_tap_ud__"
     },
     "the record __tap_ud__ is missing", true},
    {"RecordOfTheWrongSize",
     [](Bytes& b, const ElfLayout& l) {
       put(b, l.symbolSizeField(l.dynamicSymbolIndex("__tap_program_name__")), 63, l.addressWidth());
     },
     "the record __tap_program_name__ is 63 bytes, it must be 64", true},
    {"RecordSectionHoldsMore",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionSizeField(l.sectionIndex("._tap_id")), 8, l.addressWidth()); },
     "section ._tap_id is 8 bytes", true},
    {"HeaderMarkChanged",
     [](Bytes& b, const ElfLayout&) { b[find(b, "TFAPMIPS") + 7] = std::byte{'Z'}; },
     "does not start with the 8 bytes \"TFAPMIPS\"", true},
    {"UnterminatedName",
     [](Bytes& b, const ElfLayout&) { std::memset(&b[find(b, "Quarnel V1.2b")], 'Q', 64); },
     "__tap_program_name__ is not terminated within its 64 bytes", true},
    {"NeedsTheCxxRunTime",
     [](Bytes& b, const ElfLayout&) { std::memcpy(&b[find(b, std::string_view("libc.so.6\0", 10))], "libstdc++", 9); },
     "the module depends on the C++ run time (libstdc++)", true},
    {"StartUpEntryMissing",
     [](Bytes& b, const ElfLayout&) { b[find(b, std::string_view("__TAP_Init_\0", 12)) + 2] = std::byte{'X'}; },
     "the entry __TAP_Init_ is not exported", true},
};

class BrokenFileTest : public testing::TestWithParam<BrokenFile> {};

INSTANTIATE_TEST_SUITE_P(PcModule, BrokenFileTest, testing::ValuesIn(kBrokenFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(BrokenFileTest, IsRefusedWithAReasonThatNamesTheFault) {
  Bytes bytes = pcModule();
  GetParam().breakIt(bytes, ElfLayout(bytes));
  const auto inspection = inspect(bytes, "broken.tap");
  if (!GetParam().readable) {
    ASSERT_FALSE(inspection) << "the broken file was read as a module";
    EXPECT_TRUE(inspection.error.starts_with("broken.tap: ")) << inspection.error;
    EXPECT_TRUE(contains(inspection.error, GetParam().reason)) << inspection.error;
    return;
  }
  ASSERT_TRUE(inspection) << inspection.error;
  const std::string found = joined(tapelf::problems(*inspection.report, tapelf::Rules::pc));
  EXPECT_TRUE(contains(found, GetParam().reason)) << found;
}

TEST(PcModuleCopies, EveryTruncatedCopyIsRefusedWithAReason) {
  const Bytes& whole = pcModule();
  for (std::size_t size = 0; size < whole.size(); size += size < 256 ? 1 : 37) {
    const Bytes cutCopy(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
    const auto inspection = inspect(cutCopy, "cut");
    EXPECT_FALSE(inspection) << "accepted at " << size << " bytes";
    EXPECT_TRUE(inspection.error.starts_with("cut: ")) << inspection.error;
  }
}

// The date record holds a date as the compiler writes it, on any day of any month.
struct DateCase {
  const char* date;
  bool accepted;
  friend void PrintTo(const DateCase& c, std::ostream* os) { *os << '"' << c.date << '"'; }
};

class BuildDate : public testing::TestWithParam<DateCase> {};

TEST_P(BuildDate, IsAcceptedOnlyInTheCompilersForm) {
  Bytes bytes = pcModule();
  const ElfLayout layout(bytes);
  const auto record = get(bytes, layout.sectionOffsetField(layout.sectionIndex("._tap_etcinfo")), layout.addressWidth());
  std::memcpy(&bytes[record], GetParam().date, std::strlen(GetParam().date));
  const auto inspection = inspect(bytes, "dated.tap");
  ASSERT_TRUE(inspection) << inspection.error;
  const std::string found = joined(tapelf::problems(*inspection.report, tapelf::Rules::pc));
  EXPECT_EQ(!contains(found, "not a build date"), GetParam().accepted) << found;
}

INSTANTIATE_TEST_SUITE_P(PcModule, BuildDate,
                         testing::Values(DateCase{"Dec 31 2026", true}, DateCase{"Jan 30 1999", true},
                                         DateCase{"Feb  1 2026", true}, DateCase{"Mar 32 2026", false},
                                         DateCase{"Apr 00 2026", false}, DateCase{"Dex 10 2026", false}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

// Corrupts the places a reader trusts most: the ELF header, the section table
// and the dynamic symbols. A crash or an out-of-bounds read fails the test
// (run it under the sanitizer preset to see the latter).
TEST(PcModuleCopies, CorruptedHeadersAndTablesNeverCrashTheReader) {
  const Bytes& whole = pcModule();
  const ElfLayout layout(whole);
  const std::size_t table = layout.sectionNameField(0);
  const std::size_t symbols = layout.symbolNameField(0);
  std::mt19937 random(20261208);
  std::size_t refused = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes bytes = whole;
    const int flips = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < flips; ++i) {
      const std::size_t regions[] = {random() % 64, table + random() % (bytes.size() - table),
                                     symbols + random() % 512};
      const std::size_t at = regions[random() % 3] % bytes.size();
      bytes[at] = static_cast<std::byte>(random());
    }
    const auto inspection = inspect(bytes, "corrupt");
    if (!inspection) {
      ++refused;
      EXPECT_GT(inspection.error.size(), std::string("corrupt: ").size());
      continue;
    }
    for (const auto& record : inspection.report->records)
      EXPECT_TRUE(record.bytes.empty() || record.bytes.size() == record.symbolSize);
    (void)tapelf::problems(*inspection.report, tapelf::Rules::pc);
    (void)tapelf::problems(*inspection.report, tapelf::Rules::receiver);
  }
  EXPECT_GT(refused, 0u) << "no corruption was ever noticed";
}

}  // namespace
