// The processor check over hand-made MIPS files: every word a MIPS32 release 1
// processor without FPU cannot run is named with its function and address,
// everything it can run passes, and no broken file makes the check crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "mips_fixture.h"

namespace {

using namespace mipsisa_test;
using tapcheck_test::contains;
using tapcheck_test::ElfLayout;
using tapcheck_test::joined;
using tapcheck_test::put;

constexpr std::uint32_t kNop = 0x00000000;
constexpr std::uint32_t kAddu = 0x00641021;  // addu $v0, $v1, $a0

struct Word {
  const char* name;
  std::uint32_t word;
  const char* mnemonic;  // of the finding; nullptr when release 1 runs it
  const char* why;
};

const Word kWords[] = {
    {"Wsbh", kWsbh, "wsbh", "MIPS32 release 2"},
    {"Seb", 0x7C031420, "seb", "MIPS32 release 2"},
    {"Seh", 0x7C031620, "seh", "MIPS32 release 2"},
    {"Ext", 0x7C623900, "ext", "MIPS32 release 2"},
    {"Ins", 0x7C625904, "ins", "MIPS32 release 2"},
    {"Rotr", 0x00231142, "rotr", "MIPS32 release 2"},
    {"Rotrv", 0x00831046, "rotrv", "MIPS32 release 2"},
    {"Rdhwr", 0x7C03E83B, "rdhwr", "MIPS32 release 2"},
    {"Di", 0x41626000, "di", "MIPS32 release 2"},
    {"Ei", 0x41626020, "ei", "MIPS32 release 2"},
    {"Synci", 0x049F0000, "synci", "MIPS32 release 2"},
    {"JrHazardBarrier", 0x03E00408, "jr.hb", "MIPS32 release 2"},
    {"AddS", kAddS, "add.s", "floating point"},
    {"AddD", 0x46241000, "add.d", "floating point"},
    {"Lwc1", 0xC4800000, "lwc1", "floating point"},
    {"Sdc1", 0xF4800000, "sdc1", "floating point"},
    {"Mtc1", 0x44820000, "mtc1", "floating point"},
    {"Cfc1", 0x4442F800, "cfc1", "floating point"},
    {"Bc1t", 0x45010001, "bc1t", "floating point"},
    {"Movf", 0x00601001, "movf", "floating point"},
    {"Mfhc1", 0x44621000, "mfhc1", "floating point"},
    {"Lwxc1", 0x4C620000, "lwxc1", "floating point"},
    {"CompareOnSecondConditionCode", 0x46360132, ".word", "floating point"},
    {"Daddu", 0x0064102D, "daddu", "MIPS64"},
    {"DspAdd", 0x7C641010, "addu.qb", "DSP extension"},
    {"MsaAdd", 0x7802080E, "addv.b", "MSA SIMD extension"},
    {"Bitswap", 0x7C031020, "bitswap", "MIPS32 release 6"},
    {"ShadowRegisterRead", 0x41431000, ".word", "unknown instruction"},
    {"Mul", 0x70641002, nullptr, nullptr},
    {"Madd", 0x70640000, nullptr, nullptr},
    {"Msubu", 0x70430005, nullptr, nullptr},
    {"Movn", 0x0064100B, nullptr, nullptr},
    {"Movz", 0x0064100A, nullptr, nullptr},
    {"Clz", 0x70621020, nullptr, nullptr},
    {"LoadLinked", 0xC0620000, nullptr, nullptr},
    {"Sync", 0x0000000F, nullptr, nullptr},
    {"Pref", 0xCC600000, nullptr, nullptr},
    {"Lwl", 0x88620001, nullptr, nullptr},
    {"Teq", 0x00430034, nullptr, nullptr},
    {"Mfc0", 0x40026000, nullptr, nullptr},
    {"Wait", 0x42000020, nullptr, nullptr},
    {"Jalr", 0x0320F809, nullptr, nullptr},
    {"Addu", kAddu, nullptr, nullptr},
    {"HazardBarrierIsANopOnRelease1", 0x000000C0, nullptr, nullptr},
};

tapelf::ModuleReport read(const Bytes& bytes, const char* name = "fixture.so") {
  auto inspection = tapelf::inspectBytes(bytes, name);
  if (!inspection) throw std::runtime_error(inspection.error);
  EXPECT_TRUE(inspection.report->codeChecked);
  return std::move(*inspection.report);
}

// The word in the middle of the second function, with one of the same in data.
MipsFixture oneWordIn(std::uint32_t word) {
  return {{kAddu, kNop, kNop, word, kNop}, {{"Before", 0}, {"Suspect", 2}}, {word, word}};
}

class EachWord : public testing::TestWithParam<Word> {};

INSTANTIATE_TEST_SUITE_P(Table, EachWord, testing::ValuesIn(kWords),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(EachWord, IsNamedWithItsFunctionAndAddressOnlyWhenRelease1CannotRunIt) {
  const auto report = read(build(oneWordIn(GetParam().word)));
  if (GetParam().mnemonic == nullptr) {
    EXPECT_TRUE(report.codeFindings.empty()) << report.codeFindings.front().instruction;
    return;
  }
  ASSERT_EQ(report.codeFindings.size(), 1u) << "a word in data was judged, or none was found";
  const tapelf::CodeFinding& finding = report.codeFindings.front();
  EXPECT_EQ(finding.mnemonic, GetParam().mnemonic);
  EXPECT_TRUE(finding.instruction.starts_with(GetParam().mnemonic)) << finding.instruction;
  EXPECT_EQ(finding.why, GetParam().why);
  EXPECT_EQ(finding.word, GetParam().word);
  EXPECT_EQ(finding.function, "Suspect");
  EXPECT_EQ(finding.offset, 4u);
  EXPECT_EQ(finding.address, kCodeAddress + 12);
}

struct Naming {
  const char* name;
  MipsFixture fixture;
  std::vector<std::string> functions;  // of the findings, in address order
};

const Naming kNamings[] = {
    {"CodeBeforeAnyFunction", {{kWsbh, kNop, kAddS}, {{"Later", 1}}}, {"unknown function", "Later"}},
    {"NearestPrecedingFunction",
     {{kWsbh, kWsbh, kNop, kAddS}, {{"Third", 3}, {"First", 0}, {"Second", 1}}},
     {"First", "Second", "Third"}},
    {"GlobalNameBeforeLocalAlias",
     {{kNop, kWsbh}, {{"__local_alias", 0, false}, {"exported", 0}, {"__other_local", 0, false}}},
     {"exported"}},
    {"DynamicSymbolsOnly", {{kNop, kAddS}, {{"fromDynsym", 0}}, {}, true}, {"fromDynsym"}},
};

class FunctionNames : public testing::TestWithParam<Naming> {};

INSTANTIATE_TEST_SUITE_P(Table, FunctionNames, testing::ValuesIn(kNamings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(FunctionNames, AreTheNearestFunctionSymbolAtOrBeforeEachFinding) {
  const auto report = read(build(GetParam().fixture));
  std::vector<std::string> functions;
  for (const auto& finding : report.codeFindings) functions.push_back(finding.function);
  EXPECT_EQ(functions, GetParam().functions);
}

TEST(FindingLine, NamesFileInstructionFunctionOffsetAddressAndWhy) {
  const auto report = read(build(oneWordIn(kWsbh)));
  EXPECT_EQ(tapelf::findingLine("lib/libc.so.0", report.codeFindings.at(0)),
            "lib/libc.so.0: wsbh $v0, $v1 in Suspect+0x4 at 0x1000C (MIPS32 release 2)");
}

TEST(ReceiverRules, RefuseEachInstructionByLineAndCountThoseBeyondTheFirstEight) {
  MipsFixture fixture{{}, {{"Swaps", 0}}};
  fixture.code.assign(10, kWsbh);
  fixture.code.push_back(kAddS);
  const auto report = read(build(fixture), "swaps.tap");
  const std::string found = joined(tapelf::problems(report, tapelf::Rules::receiver));
  EXPECT_TRUE(contains(found, "swaps.tap: wsbh $v0, $v1 in Swaps at 0x10000 (MIPS32 release 2): "
                              "the receiver's processor (MIPS32 release 1, no FPU) cannot run it\n"))
      << found;
  const auto named = std::ranges::count_if(tapelf::problems(report, tapelf::Rules::receiver),
                                          [](const std::string& line) { return line.ends_with("cannot run it"); });
  EXPECT_EQ(named, 8);
  EXPECT_TRUE(contains(found, "and 3 more instructions the receiver's processor cannot run")) << found;
  EXPECT_FALSE(contains(found, "add.s")) << found;
  EXPECT_FALSE(contains(joined(tapelf::problems(report, tapelf::Rules::pc)), "wsbh"));
}

TEST(OtherMachines, AreNotDisassembled) {
  MipsFixture fixture = oneWordIn(kWsbh);
  fixture.machine = EM_X86_64;
  const auto inspection = tapelf::inspectBytes(build(fixture), "pc.so");
  ASSERT_TRUE(inspection) << inspection.error;
  EXPECT_FALSE(inspection.report->codeChecked);
  EXPECT_TRUE(inspection.report->codeFindings.empty());
}

TEST(CodeSkipped, LeavesTheFileUnjudgedByItsCode) {
  const auto inspection = tapelf::inspectBytes(build(oneWordIn(kWsbh)), "lib.so", tapelf::Code::skip);
  ASSERT_TRUE(inspection) << inspection.error;
  EXPECT_FALSE(inspection.report->codeChecked);
}

// Where a field of a .symtab entry lies in the file.
std::size_t symbolField(const Bytes& bytes, const ElfLayout& layout, std::size_t symbol, std::size_t field) {
  std::uint32_t table = 0;
  std::memcpy(&table, &bytes.at(layout.sectionOffsetField(layout.sectionIndex(".symtab"))), 4);
  return table + 16 * symbol + field;
}

struct Hostile {
  const char* name;
  void (*breakIt)(Bytes&, const ElfLayout&);
  const char* reason;  // part of the error; nullptr when the file still reads
  std::vector<std::string> functions{};  // of the findings, when it reads
};

const Hostile kHostile[] = {
    {"CodeSizeBeyondTheFile",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionSizeField(l.sectionIndex(".text")), 0x7FFFFFF0, 4); },
     "section .text"},
    {"CodeOffsetPastTheEnd",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionOffsetField(l.sectionIndex(".text")), b.size() - 2, 4); },
     "runs past the end of the file"},
    {"SymbolTableSizeBeyondTheFile",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionSizeField(l.sectionIndex(".symtab")), 0xFFFFFFF0, 4); },
     "section .symtab"},
    {"SymbolNameOutsideItsTable",
     [](Bytes& b, const ElfLayout& l) { put(b, symbolField(b, l, 1, 0), 0xFFFFFF, 4); },
     "the name of symbol 1 lies outside its string table"},
    {"SymbolNamesFromANonStringSection",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionLinkField(l.sectionIndex(".symtab")), 1, 4); },
     "the name of symbol 1"},
    {"CodeSizeNotAWholeWord",
     [](Bytes& b, const ElfLayout& l) { put(b, l.sectionSizeField(l.sectionIndex(".text")), 6, 4); }, nullptr, {}},
    {"FunctionInANonexistentSection",
     [](Bytes& b, const ElfLayout& l) { put(b, symbolField(b, l, 2, 14), 0xFEFF, 2); },
     nullptr, {"Before"}},
};

class HostileFile : public testing::TestWithParam<Hostile> {};

INSTANTIATE_TEST_SUITE_P(Table, HostileFile, testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(HostileFile, IsRefusedWithAReasonOrCheckedWithinTheFile) {
  Bytes bytes = build(oneWordIn(kWsbh));
  GetParam().breakIt(bytes, ElfLayout(bytes));
  const auto inspection = tapelf::inspectBytes(bytes, "hostile.so");
  if (GetParam().reason == nullptr) {
    ASSERT_TRUE(inspection) << inspection.error;
    std::vector<std::string> functions;
    for (const auto& finding : inspection.report->codeFindings) functions.push_back(finding.function);
    EXPECT_EQ(functions, GetParam().functions);
    return;
  }
  ASSERT_FALSE(inspection);
  EXPECT_TRUE(contains(inspection.error, GetParam().reason)) << inspection.error;
}

TEST(HostileFiles, EveryTruncatedCopyIsRefusedWithAReason) {
  const Bytes whole = build(oneWordIn(kWsbh));
  for (std::size_t size = 0; size < whole.size(); ++size) {
    const auto inspection = tapelf::inspectBytes(Bytes(whole.begin(), whole.begin() + static_cast<long>(size)), "cut");
    EXPECT_FALSE(inspection) << "accepted at " << size << " bytes";
  }
}

}  // namespace
