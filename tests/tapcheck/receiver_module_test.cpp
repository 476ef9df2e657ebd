// The receiver build of Quarnel.tap, checked by what it is: machine and ABI,
// needed libraries in order, init entry, sections, symbols and records. The
// records are checked on the PC build too, since both come from one source.
//
// The receiver build comes from its own configuration. Without it these tests
// are skipped, saying how to make it, unless QUARNEL_REQUIRE_RECEIVER=1 (as
// scripts/test sets) turns the skip into a failure.
#include <elf.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>

#include "module_files.h"
#include "tool_run.h"

namespace {

using namespace tapcheck_test;

const std::string kReceiverDebugFile = std::string(QUARNEL_RECEIVER_MODULE) + ".debug";

std::optional<std::string> missingReceiverBuild(const std::string& file) {
  if (file != QUARNEL_RECEIVER_MODULE || std::filesystem::exists(file)) return std::nullopt;
  return "the receiver build is missing (no " + file +
         "); build it with: cmake --preset receiver && cmake --build --preset receiver";
}

bool receiverBuildRequired() {
  const char* required = std::getenv("QUARNEL_REQUIRE_RECEIVER");
  return required != nullptr && std::string_view(required) == "1";
}

// For SetUp: skips the test, or fails it where the receiver build is required.
#define SKIP_WITHOUT_BUILD_OF(file)                          \
  if (const auto missing = missingReceiverBuild(file)) {     \
    if (receiverBuildRequired()) FAIL() << *missing;         \
    GTEST_SKIP() << *missing;                                \
  }

// What the receiver build's C library exports: the names a receiver module may import.
const tapelf::SystemLibrary& receiverLibrary() {
  static const tapelf::SystemLibrary library = tapelf::readSystemLibrary(QUARNEL_RECEIVER_SYSROOT);
  return library;
}

tapelf::ModuleReport load(const char* path) {
  auto inspection = tapelf::inspect(path);
  if (!inspection) throw std::runtime_error(inspection.error);
  return std::move(*inspection.report);
}

class ModuleRecords : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override { SKIP_WITHOUT_BUILD_OF(GetParam()); }
};

INSTANTIATE_TEST_SUITE_P(BothBuilds, ModuleRecords,
                         testing::Values(QUARNEL_PC_MODULE, QUARNEL_RECEIVER_MODULE),
                         [](const auto& info) { return info.index == 0 ? "Pc" : "Receiver"; });

std::string text(const tapelf::ModuleReport& report, std::string_view symbol) {
  const tapelf::Record* record = tapelf::findRecord(report, symbol);
  return record != nullptr ? tapelf::recordText(*record) : "(missing)";
}

TEST_P(ModuleRecords, CarryTheModulesNameVersionDescriptionAndIdentifier) {
  const auto report = load(GetParam());
  EXPECT_EQ(text(report, "__tap_program_name__"), "Quarnel V1.2b");
  EXPECT_EQ(text(report, "__tap_program_version__"), "V1.2b");
  EXPECT_EQ(text(report, "__tap_description__"), "Quarnel");
  EXPECT_FALSE(text(report, "__tap_author_name__").empty());
  const tapelf::Record* id = tapelf::findRecord(report, "__tap_ud__");
  ASSERT_EQ(id->bytes.size(), 4u);
  EXPECT_EQ(id->bytes, (std::vector<std::uint8_t>{0xA7, 0xD2, 0xC4, 0x81}));
}

TEST_P(ModuleRecords, HeaderIsTheMarkThenLittleEndianSixteenThenZeros) {
  const auto report = load(GetParam());
  std::vector<std::uint8_t> expected{'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S', 16, 0, 0, 0};
  expected.resize(32, 0);
  EXPECT_EQ(tapelf::findRecord(report, "__tap_Header__")->bytes, expected);
}

TEST_P(ModuleRecords, BuildDateIsInTheCompilersDateForm) {
  const std::string date = text(load(GetParam()), "__tap_etc_str__");
  ASSERT_EQ(date.size(), 11u) << date;
  static constexpr std::array months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  EXPECT_NE(std::find(months.begin(), months.end(), date.substr(0, 3)), months.end()) << date;
  EXPECT_EQ(date[3], ' ');
  EXPECT_TRUE(date[4] == ' ' || (date[4] >= '1' && date[4] <= '3')) << date;
  EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(date[5]))) << date;
  EXPECT_EQ(date[6], ' ');
  EXPECT_TRUE(std::all_of(date.begin() + 7, date.end(), [](char c) { return std::isdigit(c); }));
}

TEST_P(ModuleRecords, EachIsAloneInItsOwnReadOnlySectionAndZeroFilled) {
  const auto report = load(GetParam());
  for (const tapelf::Record& record : report.records) {
    EXPECT_EQ(record.section, record.layout.section) << record.layout.symbol;
    EXPECT_EQ(record.sectionSize, record.layout.size) << record.layout.symbol;
    EXPECT_EQ(record.symbolSize, record.layout.size) << record.layout.symbol;
    EXPECT_TRUE(record.readOnly) << record.layout.symbol;
    if (!record.layout.text) continue;
    const auto end = std::find(record.bytes.begin(), record.bytes.end(), 0);
    ASSERT_NE(end, record.bytes.end()) << record.layout.symbol << " is not terminated";
    EXPECT_TRUE(std::all_of(end, record.bytes.end(), [](std::uint8_t b) { return b == 0; }))
        << record.layout.symbol;
  }
}

class ReceiverBuild : public testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_BUILD_OF(QUARNEL_RECEIVER_MODULE); }
};

class ReceiverModule : public ReceiverBuild {
 protected:
  void SetUp() override {
    ReceiverBuild::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) report = load(QUARNEL_RECEIVER_MODULE);
  }
  tapelf::ModuleReport report;
};

TEST_F(ReceiverModule, IsLittleEndianMips32O32PositionIndependentSharedObject) {
  EXPECT_EQ(report.elfClass, 32u);
  EXPECT_TRUE(report.littleEndian);
  EXPECT_EQ(report.type, ET_DYN);
  EXPECT_EQ(report.machine, EM_MIPS);
  EXPECT_EQ(report.flags & EF_MIPS_ARCH, static_cast<std::uint32_t>(EF_MIPS_ARCH_32))
      << "instruction set above MIPS32 (a helper library pulled in?)";
  EXPECT_EQ(report.flags & 0x20u, 0u) << "n32, not o32";
  EXPECT_TRUE((report.flags & 0xF000u) == 0 || (report.flags & 0xF000u) == 0x1000u) << "not o32";
  EXPECT_NE(report.flags & EF_MIPS_PIC, 0u);
}

TEST_F(ReceiverModule, NeedsExactlyThePlatformLibraryLoaderAndCLibraryInThatOrder) {
  EXPECT_EQ(report.needed,
            (std::vector<std::string>{"/tapapi/TMS/libtap.so", "libdl.so.0", "libc.so.0"}));
  EXPECT_TRUE(report.searchPaths.empty()) << "a build-machine search path leaked in";
}

TEST_F(ReceiverModule, NamesItsExportedInitAsInitEntryAndNoFinalisation) {
  EXPECT_EQ(report.initSymbol, "_init");
  EXPECT_FALSE(report.hasFini);
  const tapelf::Symbol* finit = tapelf::findExported(report, "_finit");
  ASSERT_NE(finit, nullptr);
  EXPECT_TRUE(finit->function);
}

TEST_F(ReceiverModule, HasNoConstructorsNorUnwindOrExceptionTables) {
  EXPECT_FALSE(report.hasInitArray || report.hasFiniArray || report.hasPreinitArray);
  for (std::string_view forbidden : {".init_array", ".fini_array", ".ctors", ".dtors", ".eh_frame",
                                     ".eh_frame_hdr", ".gcc_except_table"})
    EXPECT_EQ(std::count(report.sections.begin(), report.sections.end(), forbidden), 0)
        << forbidden;
}

TEST_F(ReceiverModule, LeavesOnlyPlatformEntryWordsAndItsSystemCallsUndefined) {
  const std::set<std::string> systemCalls{"dlopen", "dlsym", "dlerror", "dlclose", "open",
                                          "write",  "close", "strlen",  "strcpy",  "memset"};
  for (const tapelf::Symbol& symbol : report.undefined)
    EXPECT_TRUE(symbol.name.starts_with("TAP_") || systemCalls.contains(symbol.name))
        << symbol.name;
}

TEST_F(ReceiverModule, ExportsTheSameNamesAsThePcBuild) {
  const auto pc = load(QUARNEL_PC_MODULE);
  // A sanitizer build of the PC module adds names of its own.
  auto names = [](const tapelf::ModuleReport& r) {
    std::set<std::string> set;
    for (const auto& s : r.exported)
      if (!s.name.starts_with("__odr_asan") && !s.name.starts_with("__asan")) set.insert(s.name);
    return set;
  };
  EXPECT_EQ(names(report), names(pc));
}

TEST_F(ReceiverModule, PassesEveryReceiverRule) {
  EXPECT_EQ(tapelf::rulesFor(report), tapelf::Rules::receiver);
  EXPECT_EQ(joined(tapelf::problems(report, tapelf::Rules::receiver, receiverLibrary())), "");
}

// Copies of the receiver build, each broken the way a careless build would.
struct ReceiverFault {
  const char* name;
  std::string_view original;  // bytes in the file that the fault replaces
  std::string_view replacement;
  const char* reason;
};

const ReceiverFault kReceiverFaults[] = {
    {"LoaderLibraryRenamed", std::string_view("libdl.so.0\0", 11), std::string_view("libxx.so.0\0", 11),
     "the module needs [/tapapi/TMS/libtap.so, libxx.so.0, libc.so.0]; the receiver provides "
     "exactly [/tapapi/TMS/libtap.so, libdl.so.0, libc.so.0], in that order"},
    {"CLibraryTakenForTheCxxRunTime", std::string_view("libc.so.0\0", 10), std::string_view("libstdc++\0", 10),
     "the module depends on the C++ run time (libstdc++)"},
    {"CallTheReceiversCLibraryLacks", std::string_view("\0memset\0", 8), std::string_view("\0gettid\0", 8),
     "the module needs symbols the receiver does not provide: gettid"},
    {"UnwindTableSection", ".mdebug.abi32", std::string_view(".eh_frame\0\0\0\0", 13),
     "the module has a .eh_frame section (unwind or exception tables)"},
    {"ConstructorSection", ".mdebug.abi32", std::string_view(".init_array\0\0", 13),
     "the module has a .init_array section (static constructors or destructors)"},
    {"InitEntryNotExported", std::string_view("\0_init\0", 7), std::string_view("\0_inix\0", 7),
     "the entry _init is not exported"},
};

class BrokenReceiverModule : public ReceiverBuild, public testing::WithParamInterface<ReceiverFault> {};

INSTANTIATE_TEST_SUITE_P(ReceiverRules, BrokenReceiverModule, testing::ValuesIn(kReceiverFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(BrokenReceiverModule, IsRefusedWithAReasonThatNamesTheFault) {
  Bytes bytes = readFile(QUARNEL_RECEIVER_MODULE);
  const auto* all = reinterpret_cast<const char*>(bytes.data());
  const auto at = std::string_view(all, bytes.size()).find(GetParam().original);
  ASSERT_NE(at, std::string_view::npos);
  ASSERT_EQ(GetParam().original.size(), GetParam().replacement.size());
  std::memcpy(&bytes[at], GetParam().replacement.data(), GetParam().replacement.size());
  const auto inspection = inspect(bytes, "broken.tap");
  ASSERT_TRUE(inspection) << inspection.error;
  const std::string found = joined(tapelf::problems(*inspection.report, tapelf::Rules::receiver, receiverLibrary()));
  EXPECT_TRUE(contains(found, GetParam().reason)) << found;
}

TEST_F(ReceiverModule, FlagsOfALaterInstructionSetAreRefused) {
  Bytes bytes = readFile(QUARNEL_RECEIVER_MODULE);
  const std::size_t flagsField = 36;
  put(bytes, flagsField, (report.flags & ~EF_MIPS_ARCH) | EF_MIPS_ARCH_32R2, 4);
  const auto inspection = inspect(bytes, "r2.tap");
  ASSERT_TRUE(inspection) << inspection.error;
  EXPECT_TRUE(contains(joined(tapelf::problems(*inspection.report, tapelf::Rules::receiver)),
                       "the receiver runs the MIPS32 instruction set; this module needs MIPS32 release 2"));
}

struct ForeignWord {
  const char* name;
  std::uint32_t word;
  const char* instruction;
  const char* why;
};

const ForeignWord kForeignWords[] = {
    {"Release2ByteSwap", 0x7C0310A0, "wsbh $v0, $v1", "MIPS32 release 2"},
    {"FloatingPointAdd", 0x46041000, "add.s $f0, $f2, $f4", "floating point"},
};

class ForeignCode : public ReceiverModule, public testing::WithParamInterface<ForeignWord> {};

INSTANTIATE_TEST_SUITE_P(ReceiverRules, ForeignCode, testing::ValuesIn(kForeignWords),
                         [](const auto& info) { return std::string(info.param.name); });

// The ELF flags still say MIPS32: only the code gives the module away.
TEST_P(ForeignCode, IsRefusedByTapcheckInOneLineNamingInstructionFunctionAndFile) {
  Bytes bytes = readFile(QUARNEL_RECEIVER_MODULE);
  const ElfLayout layout(bytes);
  const tapelf::Symbol* entry = tapelf::findExported(report, "TAP_Main");
  ASSERT_NE(entry, nullptr);
  const std::uint64_t address = entry->value + 4;
  put(bytes, layout.fileOffsetOf(address), GetParam().word, 4);
  char addressText[32];
  std::snprintf(addressText, sizeof addressText, "0x%" PRIX64, address);
  const quarnel::test::ToolScratch scratch(TAPCHECK_TOOL);
  const std::string file = scratch.write("foreign.tap", bytes);
  const auto run = scratch.run("--quiet " + file);
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_EQ(run.err, "tapcheck: " + file + " is not loadable on the receiver: " + file + ": " +
                         GetParam().instruction + " in TAP_Main+0x4 at " + addressText +
                         " (" + GetParam().why + "): the receiver's processor (MIPS32 release 1, no FPU) "
                         "cannot run it\n");
}

using TapcheckOnReceiverBuild = ReceiverBuild;

// Runs a shell command; its output with stderr, and its wait status.
std::pair<std::string, int> runCommand(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
  if (!pipe) return {"cannot run " + command, -1};
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) out.append(buffer, n);
  return {out, pclose(pipe.release())};
}

TEST_F(TapcheckOnReceiverBuild, PrintsMachineRecordsNeededLibrariesAndVerdict) {
  const auto [out, status] = runCommand(std::string(TAPCHECK_TOOL) + " " + QUARNEL_RECEIVER_MODULE);
  EXPECT_EQ(status, 0) << out;
  for (std::string_view line :
       {"ELF:          32-bit, little-endian, a shared object\n", "Machine:      MIPS\n",
        "ABI:          o32 calling convention, MIPS32 instruction set, position-independent",
        "._tap_program_name     __tap_program_name__       64 bytes  \"Quarnel V1.2b\"\n",
        "._tap_id               __tap_ud__                  4 bytes  0x81C4D2A7\n",
        "Needs:        /tapapi/TMS/libtap.so, libdl.so.0, libc.so.0\n",
        "Init entry:   _init; no finalisation entry\n", "Constructors: none\n",
        "Unwind data:  none\n", "Verdict:      loadable on the receiver"})
    EXPECT_TRUE(contains(out, line)) << "missing: " << line << "\n" << out;
  // The module's C library calls, sorted out by the receiver's C library itself.
  EXPECT_TRUE(contains(out, "Undefined, C library and loader (10): close, dlclose, dlerror, dlopen, dlsym, memset, "
                            "open, strcpy, strlen, write\n"))
      << out;
}

TEST_F(ReceiverModule, EveryTruncatedCopyIsRefusedWithAReason) {
  const Bytes whole = readFile(QUARNEL_RECEIVER_MODULE);
  for (std::size_t size = 0; size < whole.size(); size += size < 256 ? 1 : 29) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
    const auto inspection = inspect(cut, "cut");
    EXPECT_FALSE(inspection) << "accepted at " << size << " bytes";
    EXPECT_TRUE(inspection.error.starts_with("cut: ")) << inspection.error;
  }
}

// The file for the receiver carries no symbol table or debug information; they
// lie beside it in Quarnel.tap.debug, which it names together with its checksum.
TEST_F(ReceiverModule, ShipsWithoutSymbolTableOrDebugInformationInUnder16KiB) {
  for (std::string_view dropped : {".symtab", ".strtab", ".pdr", ".comment"})
    EXPECT_EQ(std::count(report.sections.begin(), report.sections.end(), dropped), 0) << dropped;
  for (const std::string& section : report.sections) EXPECT_FALSE(section.starts_with(".debug")) << section;
  EXPECT_LT(report.fileSize, 16u * 1024u);
}

std::uint32_t word(const Bytes& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value |= std::to_integer<std::uint32_t>(bytes.at(at + i)) << (8 * i);
  return value;
}

TEST_F(ReceiverModule, NamesTheDebugFileBesideItAndThatFilesChecksum) {
  const Bytes bytes = readFile(QUARNEL_RECEIVER_MODULE);
  const ElfLayout layout(bytes);
  const std::size_t link = layout.sectionIndex(".gnu_debuglink");
  const std::size_t at = word(bytes, layout.sectionOffsetField(link));
  const std::size_t size = word(bytes, layout.sectionSizeField(link));
  ASSERT_LE(at + size, bytes.size());
  ASSERT_GE(size, 8u);
  const std::string name(reinterpret_cast<const char*>(&bytes[at]));
  EXPECT_EQ(name, "Quarnel.tap.debug");
  const Bytes debug = readFile(kReceiverDebugFile);
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(debug.data()), static_cast<uInt>(debug.size()));
  EXPECT_EQ(word(bytes, at + size - 4), crc) << "the debug file is not the one the module names";
}

TEST_F(ReceiverModule, DebugFileGivesTheFunctionAndSourceLineOfAnAddress) {
  const tapelf::Symbol* handler = tapelf::findExported(report, "TAP_EventHandler");
  ASSERT_NE(handler, nullptr);
  char address[32];
  // An address inside the function, past its first instructions.
  std::snprintf(address, sizeof address, "0x%" PRIx64, handler->value + 8);
  const auto [out, status] =
      runCommand("mipsel-linux-gnu-addr2line -f -e " + kReceiverDebugFile + " " + address);
  ASSERT_EQ(status, 0) << out;
  EXPECT_TRUE(out.starts_with("TAP_EventHandler\n")) << out;
  EXPECT_TRUE(contains(out, "app/Quarnel.cpp:")) << out;
  EXPECT_FALSE(contains(out, ":0\n") || contains(out, "??")) << "no line for " << address << ": " << out;
}

}  // namespace
