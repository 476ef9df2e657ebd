// Reads a module file and tells what the platform needs of it: the ELF
// identity, the records, the needed libraries, the init entry and the symbols.
// Every size and offset taken from the file is checked against the file first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tapelf {

// Which loader a module is judged for: the receiver, or the simulator on this PC.
enum class Rules { receiver, pc };

struct RecordLayout {
  std::string_view section;
  std::string_view symbol;
  std::size_t size;
  bool text;  // NUL-terminated text filled up with zero bytes
};

// The identification records, in the order the platform lists them.
std::span<const RecordLayout> recordLayouts();

// The names a module may leave for the receiver to supply.
std::span<const std::string_view> platformEntryWords();
std::span<const std::string_view> receiverNeededLibraries();

struct Record {
  RecordLayout layout{};
  bool littleEndian = true;  // the byte order of the file it came from
  bool exported = false;
  std::string section;            // the section that holds the symbol
  std::uint64_t symbolSize = 0;
  std::uint64_t sectionSize = 0;
  bool readOnly = false;          // allocated, neither writable nor executable
  std::vector<std::uint8_t> bytes;  // the record's content, when it lies within the file
};

struct Symbol {
  std::string name;
  bool function = false;
  bool weak = false;
  std::uint64_t value = 0;
  std::uint64_t size = 0;
};

// An instruction in a little-endian MIPS32 file that the receiver's processor
// (MIPS32 release 1, no floating-point unit) cannot run.
struct CodeFinding {
  std::uint64_t address = 0;
  std::uint32_t word = 0;
  std::string mnemonic;
  std::string instruction;  // mnemonic and operands
  std::string function;     // the nearest function symbol at or before it, or "unknown function"
  std::uint64_t offset = 0;  // from the start of that function
  std::string why;          // "MIPS32 release 2", "floating point", "MIPS64", ...
};

struct ModuleReport {
  std::string path;
  std::uint64_t fileSize = 0;
  unsigned elfClass = 0;  // 32 or 64
  bool littleEndian = false;
  std::uint16_t type = 0;
  std::uint16_t machine = 0;
  std::uint32_t flags = 0;
  std::uint8_t osAbi = 0;
  std::vector<std::string> sections;
  bool hasDynamicSection = false;
  std::vector<std::string> needed;  // in the order of the dynamic section
  std::vector<std::string> searchPaths;  // DT_RPATH and DT_RUNPATH
  std::optional<std::uint64_t> initAddress;
  std::string initSymbol;  // the exported function at initAddress, if any
  bool hasFini = false;
  bool hasInitArray = false;
  bool hasFiniArray = false;
  bool hasPreinitArray = false;
  bool hasSysvHash = false;
  bool hasGnuHash = false;
  bool hasTextRelocations = false;
  std::vector<Record> records;  // one per recordLayouts() entry, same order
  std::vector<Symbol> exported;
  std::vector<Symbol> undefined;
  bool codeChecked = false;  // little-endian 32-bit MIPS files only
  std::vector<CodeFinding> codeFindings;  // section by section, each in address order
};

// Either a report or the reason the file could not be read as a module.
struct Inspection {
  std::optional<ModuleReport> report;
  std::string error;
  bool environment = false;  // the error is this machine's (a library it lacks), not the file's
  explicit operator bool() const { return report.has_value(); }
};

// Whether the reader disassembles a MIPS file's code for the processor check;
// Capstone takes about half a second for a C library's 1.5 MB of code.
enum class Code { check, skip };

Inspection inspect(const std::filesystem::path& file, Code code = Code::check);
Inspection inspectBytes(std::span<const std::byte> bytes, std::string_view name, Code code = Code::check);

// The names the receiver's C library and loader export (lib/libdl.so.0 and
// lib/libc.so.0 of a receiver sysroot): besides the platform's entry words,
// all that a receiver module may import.
struct SystemLibrary {
  std::set<std::string> names;
  std::string error;  // why the libraries could not be read; names is empty then
  bool provides(std::string_view name) const;
};
SystemLibrary readSystemLibrary(const std::filesystem::path& sysroot);

// What a module imports that the receiver's C library lacks, in the file's
// order: for a PC build, what its receiver build could not load with.
std::vector<std::string> importsTheReceiverLacks(const ModuleReport& report, const SystemLibrary& library);

// What stands between the module and a load under the given rules; empty when
// loadable. The receiver's rules judge the module's imports by its C library.
std::vector<std::string> problems(const ModuleReport& report, Rules rules, const SystemLibrary& library = {});

// The rules that fit the file: the receiver's for MIPS, this PC's otherwise.
Rules rulesFor(const ModuleReport& report);

// Words for people.
std::string machineName(std::uint16_t machine);
std::string abiDescription(const ModuleReport& report);
std::string typeName(std::uint16_t type);
std::string recordText(const Record& record);  // up to the first NUL
std::string describeRecord(const Record& record);  // content as a person reads it

// "FILE: wsbh $v0, $v1 in ntohl+0x4 at 0x1A2B4 (MIPS32 release 2)"
std::string findingLine(std::string_view file, const CodeFinding& finding);

// The code findings of a file, or why it could not be checked (unreadable, not
// little-endian 32-bit MIPS).
struct CodeCheck {
  std::vector<CodeFinding> findings;
  std::string error;
};
CodeCheck checkMipsCode(const std::filesystem::path& file);

const Symbol* findExported(const ModuleReport& report, std::string_view name);
const Record* findRecord(const ModuleReport& report, std::string_view symbol);

}  // namespace tapelf
