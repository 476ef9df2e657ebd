// What the reader, the rules and the words share; not for users of the library.
#pragma once
#include <libelf.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "elfmodule.h"

namespace tapelf::detail {

inline constexpr std::array kRecords{
    RecordLayout{"._tap_header", "__tap_Header__", 32, false},
    RecordLayout{"._tap_id", "__tap_ud__", 4, false},
    RecordLayout{"._tap_program_name", "__tap_program_name__", 64, true},
    RecordLayout{"._tap_program_version", "__tap_program_version__", 64, true},
    RecordLayout{"._tap_author_name", "__tap_author_name__", 64, true},
    RecordLayout{"._tap_description", "__tap_description__", 128, true},
    RecordLayout{"._tap_etcinfo", "__tap_etc_str__", 64, true},
};

inline constexpr std::array<std::string_view, 22> kEntryWords{
    "TAP_Osd_Create", "TAP_Osd_FillBox", "TAP_Osd_PutS", "TAP_Osd_Sync",
    "TAP_Osd_Delete", "TAP_Channel_GetCurrent", "TAP_Channel_Stop", "TAP_Channel_Start",
    "TAP_SystemProc", "TAP_SPrint", "TAP_Print", "TAP_Sleep",
    "TAP_MemAlloc", "TAP_MemFree", "TAP_GetSystemId", "TAP_GetVersion",
    "TAP_Hdd_Exist", "TAP_Hdd_Fopen", "TAP_Hdd_Flen", "TAP_Hdd_Fread",
    "TAP_Hdd_Fclose", "TAP_Hdd_ChangeDir",
};

inline constexpr std::array<std::string_view, 3> kReceiverNeeded{
    "/tapapi/TMS/libtap.so", "libdl.so.0", "libc.so.0",
};

// Entries the platform looks up by name besides the records.
inline constexpr std::array<std::string_view, 5> kFrameEntries{
    "__TAP_Init_", "abort", "__builtin_new", "_init", "_finit",
};

inline constexpr std::array<std::string_view, 9> kForbiddenSections{
    ".init_array", ".fini_array", ".preinit_array", ".ctors", ".dtors",
    ".eh_frame", ".eh_frame_hdr", ".gcc_except_table", ".ARM.exidx",
};

inline constexpr std::uint8_t kHeaderValue = 16;

// MIPS header flag fields; not every C library's <elf.h> names them all.
inline constexpr std::uint32_t kMipsPic = 0x2;
inline constexpr std::uint32_t kMipsCpic = 0x4;
inline constexpr std::uint32_t kMipsAbi2 = 0x20;
inline constexpr std::uint32_t kMipsNan2008 = 0x400;
inline constexpr std::uint32_t kMipsAbiMask = 0x0000F000;
inline constexpr std::uint32_t kMipsAbiO32 = 0x00001000;
inline constexpr std::uint32_t kMipsAbiO64 = 0x00002000;
inline constexpr std::uint32_t kMipsAbiEabi32 = 0x00003000;
inline constexpr std::uint32_t kMipsAbiEabi64 = 0x00004000;
inline constexpr std::uint32_t kMipsArchMask = 0xF0000000;

std::string hex(std::uint64_t value);
std::uint32_t readWord(const std::vector<std::uint8_t>& bytes, std::size_t at, bool littleEndian);
std::string mipsArchName(std::uint32_t flags);
std::string mipsAbiName(const ModuleReport& report);

// Appends what in the file's code a MIPS32 release 1 processor without FPU
// cannot run; the sections must already be known to lie within the file.
// `environment`: the error is this machine's (no Capstone), not the file's.
std::string findLaterInstructions(Elf* elf, std::vector<CodeFinding>& findings, bool& environment);

}  // namespace tapelf::detail
