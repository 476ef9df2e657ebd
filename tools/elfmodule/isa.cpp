// The receiver's processor: MIPS32 release 1 without a floating-point unit.
// Capstone decodes each word of every executable section; its instruction
// groups tell the later instruction sets apart. Capstone 4 has no group for
// floating point (FP64BIT and NOTFP64BIT mark only some double forms, and it
// cannot decode every compare), so floating point is told by the opcodes of
// coprocessor 1, which trap on a processor without one.
#include <capstone/capstone.h>
#include <dlfcn.h>
#include <gelf.h>

#include <algorithm>
#include <array>
#include <optional>
#include <tuple>
#include <utility>

#include "elfmodule.h"
#include "internal.h"

namespace tapelf {

namespace {

using namespace detail;

constexpr std::string_view kUnknownFunction = "unknown function";

// Groups that no MIPS32 release 1 processor has, with the name people know them by.
constexpr std::array<std::pair<mips_insn_group, std::string_view>, 16> kLaterGroups{{
    {MIPS_GRP_MIPS32R2, "MIPS32 release 2"},
    {MIPS_GRP_MIPS3_32R2, "MIPS32 release 2"},
    {MIPS_GRP_MIPS4_32R2, "MIPS32 release 2"},
    {MIPS_GRP_MIPS5_32R2, "MIPS32 release 2"},
    {MIPS_GRP_MIPS32R6, "MIPS32 release 6"},
    {MIPS_GRP_MIPS64R6, "MIPS64 release 6"},
    {MIPS_GRP_MIPS64, "MIPS64"},
    {MIPS_GRP_MIPS64R2, "MIPS64 release 2"},
    {MIPS_GRP_MIPS3, "MIPS64"},
    {MIPS_GRP_GP64BIT, "MIPS64"},
    {MIPS_GRP_DSP, "DSP extension"},
    {MIPS_GRP_DSPR2, "DSP extension release 2"},
    {MIPS_GRP_MSA, "MSA SIMD extension"},
    {MIPS_GRP_MICROMIPS, "microMIPS"},
    {MIPS_GRP_MIPS16MODE, "MIPS16e"},
    {MIPS_GRP_CNMIPS, "Octeon extension"},
}};


bool isFloatingPoint(std::uint32_t word) {
  constexpr std::uint32_t kSpecial = 0x00, kCop1 = 0x11, kCop1x = 0x13, kLwc1 = 0x31,
                          kLdc1 = 0x35, kSwc1 = 0x39, kSdc1 = 0x3D, kMovci = 0x01;
  const std::uint32_t opcode = word >> 26;
  if (opcode == kSpecial) return (word & 0x3F) == kMovci;  // movf, movt: read the FPU's condition codes
  return opcode == kCop1 || opcode == kCop1x || opcode == kLwc1 || opcode == kLdc1 ||
         opcode == kSwc1 || opcode == kSdc1;
}

// Capstone is loaded when code is checked, and only then: every other use of
// the reader (tapsim with a PC module above all) starts without it.
class Capstone {
 public:
  Capstone() : handle_(dlopen(CAPSTONE_SONAME, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) return;
    const bool found = bind(open, "cs_open") && bind(option, "cs_option") && bind(malloc, "cs_malloc") &&
                       bind(free, "cs_free") && bind(close, "cs_close") && bind(disasmIter, "cs_disasm_iter");
    if (!found) {
      dlclose(handle_);
      handle_ = nullptr;
    }
  }
  ~Capstone() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  Capstone(const Capstone&) = delete;
  Capstone& operator=(const Capstone&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  // What to do about it, for one line: the library and the Debian package that has it.
  static std::string missing() {
    std::string package(CAPSTONE_SONAME);
    package.replace(package.find(".so."), 4, "");
    return std::string("Capstone is not installed (cannot load " CAPSTONE_SONAME "); install the Debian package ") +
           package;
  }

  decltype(&cs_open) open = nullptr;
  decltype(&cs_option) option = nullptr;
  decltype(&cs_malloc) malloc = nullptr;
  decltype(&cs_free) free = nullptr;
  decltype(&cs_close) close = nullptr;
  decltype(&cs_disasm_iter) disasmIter = nullptr;

 private:
  template <typename Function>
  bool bind(Function& function, const char* name) {
    function = reinterpret_cast<Function>(dlsym(handle_, name));
    return function != nullptr;
  }
  void* handle_;
};

class Decoder {
 public:
  Decoder(const Capstone& capstone, cs_mode mode, bool detail) : capstone_(capstone) {
    if (!capstone.loaded() ||
        capstone.open(CS_ARCH_MIPS, static_cast<cs_mode>(mode | CS_MODE_LITTLE_ENDIAN), &handle_) != CS_ERR_OK) {
      handle_ = 0;
      return;
    }
    if (detail) capstone.option(handle_, CS_OPT_DETAIL, CS_OPT_ON);
    insn_ = capstone.malloc(handle_);
  }
  ~Decoder() {
    if (insn_ != nullptr) capstone_.free(insn_, 1);
    if (handle_ != 0) capstone_.close(&handle_);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  Decoder(Decoder&&) = delete;
  Decoder& operator=(Decoder&&) = delete;

  bool ready() const { return handle_ != 0 && insn_ != nullptr; }

  // The one instruction in four bytes, or nullptr when this mode knows no such word.
  const cs_insn* decode(const std::uint8_t* bytes, std::uint64_t address) {
    std::size_t size = 4;
    return capstone_.disasmIter(handle_, &bytes, &size, &address, insn_) ? insn_ : nullptr;
  }

 private:
  const Capstone& capstone_;
  csh handle_ = 0;
  cs_insn* insn_ = nullptr;
};

std::string wordHex(std::uint32_t word) {
  const std::string digits = hex(word).substr(2);
  return "0x" + std::string(8 - digits.size(), '0') + digits;
}

std::string text(const cs_insn& insn) {
  std::string line = insn.mnemonic;
  if (insn.op_str[0] != '\0') line += std::string(" ") + insn.op_str;
  return line;
}

// Why a decoded MIPS32 instruction is beyond release 1 without an FPU, if it is.
std::optional<std::string_view> laterThanRelease1(const cs_insn& insn) {
  const cs_detail& detail = *insn.detail;
  for (const auto& [group, name] : kLaterGroups)
    if (std::ranges::find(detail.groups, detail.groups + detail.groups_count, group) !=
        detail.groups + detail.groups_count)
      return name;
  // Release 2 instructions that Capstone files under no later group; it gives
  // jr.hb the identity of jr.
  if (insn.id == MIPS_INS_RDHWR || std::string_view(insn.mnemonic).ends_with(".hb")) return "MIPS32 release 2";
  return std::nullopt;
}

struct FunctionStart {
  std::size_t section = 0;
  std::uint64_t value = 0;
  bool global = false;
  std::string name;
};

class Scanner {
 public:
  explicit Scanner(Elf* elf) : elf_(elf) {}

  std::string run(std::vector<CodeFinding>& findings, bool& environment) {
    environment = !capstone_.loaded();
    if (environment) return Capstone::missing();
    if (!mips32_.ready() || !mips64_.ready() || !release6_.ready())
      return "the disassembler cannot be started";
    if (auto error = readFunctions(); !error.empty()) return error;
    for (Elf_Scn* scn = elf_nextscn(elf_, nullptr); scn != nullptr; scn = elf_nextscn(elf_, scn)) {
      GElf_Shdr header;
      if (gelf_getshdr(scn, &header) == nullptr) return "unreadable section header: " + libelfMessage();
      if ((header.sh_flags & SHF_EXECINSTR) == 0 || header.sh_type == SHT_NOBITS) continue;
      if (auto error = scanSection(scn, header, findings); !error.empty()) return error;
    }
    return {};
  }

 private:
  static std::string libelfMessage() {
    const char* message = elf_errmsg(-1);
    return message != nullptr ? message : "unknown libelf error";
  }

  std::string readFunctions() {
    for (Elf_Scn* scn = elf_nextscn(elf_, nullptr); scn != nullptr; scn = elf_nextscn(elf_, scn)) {
      GElf_Shdr header;
      if (gelf_getshdr(scn, &header) == nullptr) return "unreadable section header: " + libelfMessage();
      if (header.sh_type != SHT_SYMTAB && header.sh_type != SHT_DYNSYM) continue;
      if (auto error = readFunctions(scn, header); !error.empty()) return error;
    }
    std::ranges::sort(functions_, [](const FunctionStart& a, const FunctionStart& b) {
      return std::tie(a.section, a.value, b.global, a.name) < std::tie(b.section, b.value, a.global, b.name);
    });
    // Of several names for one address, the global one that sorts first stays.
    const auto repeats = std::unique(functions_.begin(), functions_.end(),
                                     [](const FunctionStart& a, const FunctionStart& b) {
                                       return a.section == b.section && a.value == b.value;
                                     });
    functions_.erase(repeats, functions_.end());
    return {};
  }

  std::string readFunctions(Elf_Scn* scn, const GElf_Shdr& header) {
    Elf_Data* data = elf_getdata(scn, nullptr);
    if (data == nullptr) return "unreadable symbol table: " + libelfMessage();
    const std::size_t entrySize = gelf_fsize(elf_, ELF_T_SYM, 1, EV_CURRENT);
    if (entrySize == 0) return "unknown symbol size";
    const std::size_t count = data->d_size / entrySize;
    for (std::size_t i = 1; i < count; ++i) {
      GElf_Sym sym;
      if (gelf_getsym(data, static_cast<int>(i), &sym) == nullptr)
        return "unreadable symbol " + std::to_string(i) + ": " + libelfMessage();
      const unsigned type = GELF_ST_TYPE(sym.st_info);
      if ((type != STT_FUNC && type != STT_GNU_IFUNC) || sym.st_shndx == SHN_UNDEF ||
          sym.st_shndx >= SHN_LORESERVE)
        continue;
      const char* name = elf_strptr(elf_, header.sh_link, sym.st_name);
      if (name == nullptr)
        return "the name of symbol " + std::to_string(i) + " lies outside its string table";
      if (*name == '\0') continue;
      functions_.push_back({sym.st_shndx, sym.st_value, GELF_ST_BIND(sym.st_info) != STB_LOCAL, name});
    }
    return {};
  }

  const FunctionStart* functionAt(std::size_t section, std::uint64_t address) const {
    const auto after = std::ranges::upper_bound(functions_, std::pair(section, address), {},
                                                [](const FunctionStart& f) { return std::pair(f.section, f.value); });
    if (after == functions_.begin()) return nullptr;
    const FunctionStart& candidate = *std::prev(after);
    return candidate.section == section ? &candidate : nullptr;
  }

  std::string scanSection(Elf_Scn* scn, const GElf_Shdr& header, std::vector<CodeFinding>& findings) {
    // The raw bytes: the reader has checked that the section lies within the file.
    Elf_Data* data = elf_rawdata(scn, nullptr);
    if (data == nullptr) return "unreadable code section: " + libelfMessage();
    if (data->d_buf == nullptr || data->d_size == 0) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data->d_buf);
    const std::size_t section = elf_ndxscn(scn);
    for (std::size_t at = 0; at + 4 <= data->d_size; at += 4) {
      const std::uint64_t address = header.sh_addr + at;
      auto finding = judge(bytes + at, address);
      if (!finding) continue;
      const FunctionStart* function = functionAt(section, address);
      finding->function = function != nullptr ? function->name : std::string(kUnknownFunction);
      finding->offset = function != nullptr ? address - function->value : 0;
      findings.push_back(std::move(*finding));
    }
    return {};
  }

  std::optional<CodeFinding> judge(const std::uint8_t* bytes, std::uint64_t address) {
    CodeFinding finding;
    finding.address = address;
    finding.word = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                   static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    if (const cs_insn* insn = mips32_.decode(bytes, address)) {
      std::optional<std::string_view> why;
      if (isFloatingPoint(finding.word)) why = "floating point";
      else why = laterThanRelease1(*insn);
      if (!why) return std::nullopt;
      return named(std::move(finding), *insn, *why);
    }
    // Words MIPS32 does not know: named by the instruction set that does.
    if (isFloatingPoint(finding.word)) return unnamed(std::move(finding), "floating point");
    if (const cs_insn* insn = mips64_.decode(bytes, address)) return named(std::move(finding), *insn, "MIPS64");
    if (const cs_insn* insn = release6_.decode(bytes, address))
      return named(std::move(finding), *insn, "MIPS32 release 6");
    return unnamed(std::move(finding), "unknown instruction");
  }

  static CodeFinding named(CodeFinding finding, const cs_insn& insn, std::string_view why) {
    finding.mnemonic = insn.mnemonic;
    finding.instruction = text(insn);
    finding.why = why;
    return finding;
  }

  static CodeFinding unnamed(CodeFinding finding, std::string_view why) {
    finding.mnemonic = ".word";
    finding.instruction = ".word " + wordHex(finding.word);
    finding.why = why;
    return finding;
  }

  Elf* elf_;
  Capstone capstone_;  // before the decoders, which it outlives
  Decoder mips32_{capstone_, CS_MODE_MIPS32, true};
  Decoder mips64_{capstone_, CS_MODE_MIPS64, false};
  Decoder release6_{capstone_, CS_MODE_MIPS32R6, false};
  std::vector<FunctionStart> functions_;  // by section and address
};

}  // namespace

namespace detail {

std::string findLaterInstructions(Elf* elf, std::vector<CodeFinding>& findings, bool& environment) {
  return Scanner(elf).run(findings, environment);
}

}  // namespace detail

std::string findingLine(std::string_view file, const CodeFinding& finding) {
  std::string function = finding.function;
  if (finding.offset != 0) function += "+" + hex(finding.offset);
  return std::string(file) + ": " + finding.instruction + " in " + function + " at " + hex(finding.address) +
         " (" + finding.why + ")";
}

CodeCheck checkMipsCode(const std::filesystem::path& file) {
  auto inspection = inspect(file);
  if (!inspection) return {{}, inspection.error};
  if (!inspection.report->codeChecked)
    return {{}, file.string() + ": not a little-endian 32-bit MIPS file (" +
                    machineName(inspection.report->machine) + ", " +
                    std::to_string(inspection.report->elfClass) + "-bit, " +
                    (inspection.report->littleEndian ? "little" : "big") + "-endian)"};
  return {std::move(inspection.report->codeFindings), {}};
}

}  // namespace tapelf
