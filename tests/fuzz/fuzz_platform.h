// A minimal, fast receiver for fuzzing the firmware database loader and the
// key hook: a disk with "/", "/ProgramFiles" and "/ProgramFiles/Settings", one
// database file served from memory, and the firmware's task table. No call
// log, no strings built per call: the fuzzer runs this hundreds of thousands
// of times.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "frame/tap.h"

namespace quarnel::fuzz {

// How TAP_Hdd_Flen answers the second time it is asked about the file.
enum class SecondLength { Same, Grown, Shrunk };

struct DiskCounters {
  uint32_t opens = 0;
  uint32_t openFiles = 0;
  uint32_t liveBlocks = 0;
  uint32_t changeDirs = 0;
};

// Fills the platform's entry words and the task table; call once.
void installPlatform();

// Serves these bytes as "/ProgramFiles/FirmwareTMS.dat" and puts the current
// directory back at "/".
void serveDatabase(std::span<const uint8_t> bytes, SecondLength second);

// Takes the database file off the disk until the next serveDatabase.
void withdrawDatabase();

const DiskCounters& counters();
const std::string& currentDirectory();
// TAP_GetSystemId's answer; it has a bit above 15 until set otherwise.
uint32_t systemIdWord();
void setSystemIdWord(uint32_t word);
// The handler the module's task table entry holds before any hook.
TapEventHandler moduleHandler();

}  // namespace quarnel::fuzz
