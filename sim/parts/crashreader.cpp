// tapsim-crash.so: the crash reader. The module's code as loaded and its
// debug information name the function and line of a crash or a hang, through
// libdw, which tapsim loads only when it writes such a report.
#include <cxxabi.h>
#include <dwarf.h>
#include <elf.h>
#include <elfutils/libdwfl.h>
#include <gelf.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crashreport.h"

namespace tapsim {
namespace {

constexpr size_t kMostCallerLines = 16;

struct Segment {
  uint64_t start, end;
  const uint8_t* bytes;
};

// The module's code as loaded: its executable segments and its debug
// information, which libdw finds in the file or through .gnu_debuglink beside it.
class ModuleCode {
 public:
  // Read from the descriptors held since the start; libdwfl closes the copies it gets.
  bool open(const ModuleFile& file, uint64_t base) {
    static const Dwfl_Callbacks callbacks = {
        .find_elf = nullptr,
        .find_debuginfo = heldDebugFile,
        .section_address = dwfl_offline_section_address,
        .debuginfo_path = nullptr,
    };
    dwfl_.reset(dwfl_begin(&callbacks));
    if (!dwfl_ || file.fd() < 0) return false;
    dwfl_report_begin(dwfl_.get());
    const std::string name = file.path().filename().string(), path = file.path().string();
    module_ = dwfl_report_elf(dwfl_.get(), name.c_str(), path.c_str(), dup(file.fd()), base, false);
    dwfl_report_end(dwfl_.get(), nullptr, nullptr);
    if (module_ == nullptr) return false;
    void** userdata = nullptr;
    dwfl_module_info(module_, &userdata, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (userdata != nullptr) *userdata = const_cast<ModuleFile*>(&file);
    return findSegments();
  }

  bool holds(uint64_t address) const { return segmentOf(address, 1) != nullptr; }

  // The call instruction a return address follows, if it follows one.
  std::optional<uint64_t> callBefore(uint64_t returnAddress) const {
    return machine_ == EM_MIPS ? mipsCallBefore(returnAddress) : machine_ == EM_X86_64 ? x86CallBefore(returnAddress)
                                                                                        : std::nullopt;
  }

  uint64_t functionStart(uint64_t address) const {
    GElf_Off offset = 0;
    GElf_Sym symbol;
    if (dwfl_module_addrinfo(module_, address, &offset, &symbol, nullptr, nullptr, nullptr) == nullptr) return 0;
    return address - offset;
  }

  // "Function (file:line)", with what is known of both.
  std::string describe(uint64_t address) const {
    std::string function = functionName(address);
    int line = 0;
    const char* file = nullptr;
    if (Dwfl_Line* found = dwfl_module_getsrc(module_, address))
      file = dwfl_lineinfo(found, nullptr, &line, nullptr, nullptr, nullptr);
    if (function.empty()) function = "code at offset " + hex(address - base_) + " of the module";
    if (file == nullptr) return function;
    return function + " (" + file + ":" + std::to_string(line) + ")";
  }

 private:
  struct EndDwfl {
    void operator()(Dwfl* dwfl) const { dwfl_end(dwfl); }
  };

  // The debug file held open since the start, else where libdwfl would look.
  static int heldDebugFile(Dwfl_Module* module, void** userdata, const char* name, Dwarf_Addr base,
                           const char* file, const char* debuglink, GElf_Word crc, char** debugFileName) {
    const auto* held = userdata != nullptr ? static_cast<const ModuleFile*>(*userdata) : nullptr;
    if (held != nullptr && held->debugFd() >= 0) return dup(held->debugFd());
    return dwfl_standard_find_debuginfo(module, userdata, name, base, file, debuglink, crc, debugFileName);
  }

  static std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
  }

  bool findSegments() {
    GElf_Addr bias = 0;
    Elf* elf = dwfl_module_getelf(module_, &bias);
    size_t fileSize = 0;
    const char* image = elf != nullptr ? elf_rawfile(elf, &fileSize) : nullptr;
    GElf_Ehdr header;
    size_t count = 0;
    if (image == nullptr || gelf_getehdr(elf, &header) == nullptr || elf_getphdrnum(elf, &count) != 0) return false;
    machine_ = header.e_machine;
    base_ = bias;
    for (size_t i = 0; i < count; ++i) {
      GElf_Phdr segment;
      if (gelf_getphdr(elf, static_cast<int>(i), &segment) == nullptr) continue;
      if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
      if (segment.p_offset > fileSize || segment.p_filesz > fileSize - segment.p_offset) continue;
      const uint64_t start = bias + segment.p_vaddr;
      segments_.push_back({start, start + segment.p_filesz, reinterpret_cast<const uint8_t*>(image) + segment.p_offset});
    }
    return true;
  }

  const Segment* segmentOf(uint64_t address, uint64_t size) const {
    for (const Segment& segment : segments_)
      if (address >= segment.start && address < segment.end && size <= segment.end - address) return &segment;
    return nullptr;
  }

  std::optional<std::span<const uint8_t>> bytesAt(uint64_t address, uint64_t size) const {
    const Segment* segment = segmentOf(address, size);
    if (segment == nullptr) return std::nullopt;
    return std::span<const uint8_t>(segment->bytes + (address - segment->start), size);
  }

  // jal, jalr, and the branches that link; the return address is two instructions on.
  std::optional<uint64_t> mipsCallBefore(uint64_t returnAddress) const {
    if (returnAddress % 4 != 0 || returnAddress < 8) return std::nullopt;
    const auto bytes = bytesAt(returnAddress - 8, 4);
    if (!bytes) return std::nullopt;
    const uint32_t word = (*bytes)[0] | (*bytes)[1] << 8 | (*bytes)[2] << 16 | uint32_t{(*bytes)[3]} << 24;
    const uint32_t opcode = word >> 26, rt = (word >> 16) & 0x1F;
    const bool call = opcode == 3 || (opcode == 0 && (word & 0x3F) == 9) || (opcode == 1 && rt >= 0x10 && rt <= 0x13);
    return call ? std::optional<uint64_t>(returnAddress - 8) : std::nullopt;
  }

  // call rel32, or call through a register or memory (FF /2) of the length
  // that ends exactly at the return address.
  std::optional<uint64_t> x86CallBefore(uint64_t returnAddress) const {
    if (returnAddress < 7) return std::nullopt;
    if (const auto direct = bytesAt(returnAddress - 5, 1); direct && (*direct)[0] == 0xE8) return returnAddress - 5;
    for (uint64_t length = 2; length <= 7; ++length) {
      const auto bytes = bytesAt(returnAddress - length, length);
      if (!bytes || (*bytes)[0] != 0xFF || (((*bytes)[1] >> 3) & 7) != 2) continue;
      if (indirectCallLength(*bytes) == length) return returnAddress - length;
    }
    return std::nullopt;
  }

  static uint64_t indirectCallLength(std::span<const uint8_t> bytes) {
    const uint8_t mod = bytes[1] >> 6, rm = bytes[1] & 7;
    if (mod == 3) return 2;
    const bool sib = rm == 4;
    uint64_t length = 2 + (sib ? 1 : 0);
    if (mod == 1) return length + 1;
    if (mod == 2) return length + 4;
    if (rm == 5) return length + 4;  // rip-relative
    if (sib && bytes.size() > 2 && (bytes[2] & 7) == 5) return length + 4;
    return length;
  }

  // The innermost function the debug information places the address in
  // (an inlined one included), else the symbol table's name for it.
  std::string functionName(uint64_t address) const {
    Dwarf_Addr bias = 0;
    if (Dwarf_Die* unit = dwfl_module_addrdie(module_, address, &bias)) {
      Dwarf_Die* scopes = nullptr;
      const int count = dwarf_getscopes(unit, address - bias, &scopes);
      std::string name;
      for (int i = 0; i < count && name.empty(); ++i) {
        const int tag = dwarf_tag(&scopes[i]);
        if (tag != DW_TAG_subprogram && tag != DW_TAG_inlined_subroutine) continue;
        Dwarf_Attribute attribute;
        const char* found = dwarf_formstring(dwarf_attr_integrate(&scopes[i], DW_AT_name, &attribute));
        if (found != nullptr) name = found;
      }
      std::free(scopes);
      if (!name.empty()) return name;
    }
    const char* symbol = dwfl_module_addrname(module_, address);
    return symbol != nullptr ? demangled(symbol) : std::string();
  }

  static std::string demangled(const char* symbol) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> plain(abi::__cxa_demangle(symbol, nullptr, nullptr, &status),
                                                      &std::free);
    return status == 0 && plain ? std::string(plain.get()) : std::string(symbol);
  }

  std::unique_ptr<Dwfl, EndDwfl> dwfl_;
  Dwfl_Module* module_ = nullptr;
  uint16_t machine_ = EM_NONE;
  uint64_t base_ = 0;
  std::vector<Segment> segments_;
};

uint64_t wordAt(const std::string& bytes, size_t at, unsigned width) {
  uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) value |= uint64_t{static_cast<uint8_t>(bytes[at + i])} << (8 * i);
  return value;
}

// Every word on the stack that returns into the module just after a call:
// the calls still under way, innermost first. A word left over from an
// earlier call can pass for one; the stack holds no more than that.
std::vector<uint64_t> callSites(const ModuleCode& code, const Fault& fault, unsigned width) {
  std::vector<uint64_t> sites;
  const size_t skip = (width - fault.stackAt % width) % width;
  for (size_t at = skip; at + width <= fault.stack.size(); at += width)
    if (const auto site = code.callBefore(wordAt(fault.stack, at, width))) sites.push_back(*site);
  // MIPS: until the faulting function calls, its return address is in a register only.
  const auto site = fault.ra != 0 ? code.callBefore(fault.ra) : std::nullopt;
  const bool stale = site && code.functionStart(*site) == code.functionStart(fault.pc) && *site < fault.pc;
  if (site && !stale && (sites.empty() || sites.front() != *site)) sites.insert(sites.begin(), *site);
  return sites;
}

// Repeated calls from one place (a recursion) become one line with a count.
std::vector<std::string> callerLines(const ModuleCode& code, std::span<const uint64_t> sites, bool cut) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < sites.size() && lines.size() < kMostCallerLines;) {
    size_t same = 1;
    while (i + same < sites.size() && sites[i + same] == sites[i]) ++same;
    std::string line = code.describe(sites[i]);
    const bool last = i + same == sites.size();
    if (same > 1) line += std::string(", ") + (last && cut ? "at least " : "") + std::to_string(same) + " times";
    lines.push_back(line);
    i += same;
  }
  return lines;
}

}  // namespace

CrashPlaces locateCrash(const ModuleFile& module, uint64_t base, unsigned pointerBytes, const Fault& fault) {
  CrashPlaces places;
  ModuleCode code;
  if ((pointerBytes != 4 && pointerBytes != 8) || !code.open(module, base)) return places;
  std::vector<uint64_t> sites = callSites(code, fault, pointerBytes);
  places.inModule = code.holds(fault.pc);
  if (places.inModule) {
    places.where = code.describe(fault.pc);
  } else if (!sites.empty()) {
    places.where = code.describe(sites.front());
    sites.erase(sites.begin());
  }
  places.callers = callerLines(code, sites, fault.stackCut);
  return places;
}

}  // namespace tapsim

extern "C" __attribute__((visibility("default"))) void tapsim_locate_crash(const tapsim::ModuleFile* module,
                                                                           uint64_t base, unsigned pointerBytes,
                                                                           const tapsim::Fault* fault,
                                                                           tapsim::CrashPlaces* places) {
  *places = tapsim::locateCrash(*module, base, pointerBytes, *fault);
}
