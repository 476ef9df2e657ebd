#include "fuzz_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/firmware.h"
#include "frame/tap.h"

extern "C" {
// Exported from the fuzzer executable; the library finds them by name.
__attribute__((visibility("default"))) TapTaskEntry _tapTask[4] = {};
__attribute__((visibility("default"))) int32_t _curTapTask = 1;
}

namespace quarnel::fuzz {
namespace {

constexpr const char* kDatabaseDirectory = "/ProgramFiles";
constexpr const char* kDatabaseName = "FirmwareTMS.dat";
// Bit 16 set: no record can match the whole word, so every record is walked.
constexpr uint32_t kSystemIdWord = 0x10000u | 22120u;
uint32_t systemIdWordNow = kSystemIdWord;

struct Disk {
  std::vector<uint8_t> file;  // what Fread reads
  uint32_t firstLength = 0;
  uint32_t secondLength = 0;
  uint32_t lengthAsked = 0;
  size_t position = 0;
  std::string current = "/";
  std::string recordPath = "[disk0]/";
  TapDirRecord record{};
  bool databasePresent = true;
  DiskCounters counters;
};

Disk disk;
int fileToken;

void followDirectory() {
  disk.recordPath = "[disk0]" + disk.current;
  disk.record.path = disk.recordPath.data();
}

std::string resolve(const char* path) {
  if (path[0] == '/') return path;
  return disk.current == "/" ? "/" + std::string(path) : disk.current + "/" + path;
}

bool isDirectory(const std::string& path) {
  return path == "/" || path == "/ProgramFiles" || path == "/ProgramFiles/Settings";
}

bool isDatabase(const char* name) {
  return disk.databasePresent && name != nullptr && disk.current == kDatabaseDirectory && std::strcmp(name, kDatabaseName) == 0;
}

uint32_t changeDir(const char* path) {
  ++disk.counters.changeDirs;
  if (path == nullptr || path[0] == '\0') return 0;
  const std::string target = resolve(path);
  if (!isDirectory(target)) return 0;
  disk.current = target;
  followDirectory();
  return 1;
}

int32_t exists(const char* name) { return isDatabase(name) ? 1 : 0; }

TapFile* fopen(const char* name) {
  if (!isDatabase(name)) return nullptr;
  ++disk.counters.opens;
  ++disk.counters.openFiles;
  disk.position = 0;
  disk.lengthAsked = 0;
  return reinterpret_cast<TapFile*>(&fileToken);
}

uint32_t flen(TapFile*) { return ++disk.lengthAsked == 1 ? disk.firstLength : disk.secondLength; }

uint32_t fread(void* buffer, uint32_t blockSize, uint32_t count, TapFile*) {
  if (blockSize == 0 || count != 1 || disk.file.size() - disk.position < blockSize) return 0;
  std::memcpy(buffer, disk.file.data() + disk.position, blockSize);
  disk.position += blockSize;
  return 1;
}

void fclose(TapFile*) { --disk.counters.openFiles; }

// Exactly the size asked, so AddressSanitizer sees any read past the block.
void* memAlloc(uint32_t size) {
  void* block = std::malloc(size);
  if (block == nullptr && size == 0) block = std::malloc(1);
  if (block != nullptr) ++disk.counters.liveBlocks;
  return block;
}

int32_t memFree(void* block) {
  if (block != nullptr) --disk.counters.liveBlocks;
  std::free(block);
  return 1;
}

uint32_t systemId() { return systemIdWordNow; }
uint32_t version() { return 0x1234; }

int32_t sprint(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, 512, format, args);
  va_end(args);
  return n;
}

uint32_t handleEvent(uint32_t event, uint32_t, uint32_t) { return event & 0xFFFF; }

}  // namespace

void installPlatform() {
  TAP_Hdd_ChangeDir = changeDir;
  TAP_Hdd_Exist = exists;
  TAP_Hdd_Fopen = fopen;
  TAP_Hdd_Flen = flen;
  TAP_Hdd_Fread = fread;
  TAP_Hdd_Fclose = fclose;
  TAP_MemAlloc = memAlloc;
  TAP_MemFree = memFree;
  TAP_GetSystemId = systemId;
  TAP_GetVersion = version;
  TAP_SPrint = sprint;
  followDirectory();
  _tapTask[_curTapTask].dirRecord = &disk.record;
  _tapTask[_curTapTask].handler = handleEvent;
}

void serveDatabase(std::span<const uint8_t> bytes, SecondLength second) {
  disk.file.assign(bytes.begin(), bytes.end());
  disk.firstLength = static_cast<uint32_t>(bytes.size());
  disk.secondLength = disk.firstLength;
  if (second == SecondLength::Grown) {
    // The file really is longer when it is read, so a read of the second
    // length would succeed and overrun a block sized by the first.
    disk.file.resize(bytes.size() + 64, 0);
    disk.secondLength = disk.firstLength + 64;
  } else if (second == SecondLength::Shrunk) {
    disk.secondLength = disk.firstLength / 2;
  }
  disk.databasePresent = true;
  disk.current = "/";
  followDirectory();
  disk.counters.opens = 0;
  disk.counters.changeDirs = 0;
}

void withdrawDatabase() { disk.databasePresent = false; }

const DiskCounters& counters() { return disk.counters; }
const std::string& currentDirectory() { return disk.current; }
uint32_t systemIdWord() { return systemIdWordNow; }
void setSystemIdWord(uint32_t word) { systemIdWordNow = word; }
TapEventHandler moduleHandler() { return handleEvent; }

}  // namespace quarnel::fuzz
