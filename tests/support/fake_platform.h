// A recording stand-in for the platform: while a FakePlatform lives, every
// entry word of frame/tap.h points at a fake that appends the call to an
// ordered log and behaves as the test programmed it. The words are put back
// when it goes. One FakePlatform at a time.
//
// Log lines look like calls: numbers in decimal, colours in hex, strings
// quoted with bytes outside printable ASCII as \xNN:
//   TAP_Osd_FillBox(1,0,0,720,576,0xff000000)
//   TAP_Hdd_ChangeDir("/ProgramFiles")
//   TAP_SPrint("/dev/pts/%d") -> "/dev/pts/0"
// Pointers are "null", "#N" (the Nth block TAP_MemAlloc handed out, "#N+K"
// inside it), "@N" (the Nth file TAP_Hdd_Fopen opened) or "ptr".
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/tap.h"

namespace quarnel::test {

// A small disk: directories and files by absolute path, and a current directory.
class FakeDisk {
 public:
  FakeDisk();

  // Creates the directory and every parent of it.
  void addDirectory(std::string_view absolutePath);
  // Creates the file (and its directory) with these bytes.
  void addFile(std::string_view absolutePath, std::string_view bytes);
  void addFile(std::string_view absolutePath, const std::vector<uint8_t>& bytes);
  void removeFile(std::string_view absolutePath);

  bool isDirectory(std::string_view absolutePath) const;
  bool isFile(std::string_view absolutePath) const;

  const std::string& currentDirectory() const { return current_; }
  void setCurrentDirectory(std::string_view absolutePath);

  // The absolute form of a path taken from the current directory ("." and ".."
  // understood), or nothing for an empty path.
  std::optional<std::string> resolve(std::string_view path) const;
  const std::vector<uint8_t>* fileBytes(std::string_view absolutePath) const;

 private:
  std::set<std::string> directories_;
  std::map<std::string, std::vector<uint8_t>> files_;
  std::string current_ = "/";
};

struct DeliveredEvent {
  uint32_t event;
  uint32_t param1;
  uint32_t param2;
  uint32_t result;
};

class FakePlatform {
 public:
  FakePlatform();
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // --- What the test programs ---
  uint32_t systemId = 22120;         // whole word returned by TAP_GetSystemId
  uint32_t version = 0x1234;         // TAP_GetVersion
  uint32_t changeDirSuccess = 1;     // TAP_Hdd_ChangeDir on success ...
  uint32_t changeDirFailure = 0;     // ... and on failure
  TapRegion nextRegion = 1;          // handle TAP_Osd_Create gives next
  int32_t channelFirst = 1;          // what TAP_Channel_GetCurrent reports
  int32_t channelSecond = 42;
  bool failReads = false;            // TAP_Hdd_Fread returns 0 and reads nothing
  FakeDisk disk;

  // TAP_MemAlloc returns null on its Nth call (counted from 1 since construction); 0 = never.
  void failAllocationOnCall(uint32_t n) { failAllocationOn_ = n; }
  void failEveryAllocation(bool fail) { failEveryAllocation_ = fail; }

  // Events for TAP_SystemProc: each call delivers the oldest one, if any, to
  // the handler set here or else to the one the task table holds (see FakeFirmware).
  void pressKey(uint32_t keyWord) { queueEvent(TAP_EVENT_KEY, keyWord, 0); }
  void queueEvent(uint32_t event, uint32_t param1, uint32_t param2);
  void setHandler(TapEventHandler handler) { handlerOverride_ = handler; }
  // Asked for the handler when the test did not set one.
  std::function<TapEventHandler()> taskHandler;
  // Called by TAP_SystemProc when no event is queued. Without it, a module
  // that keeps waiting on an empty queue ends the test run after idleLimit calls.
  std::function<void()> onIdle;
  uint32_t idleLimit = 100000;
  // Told the new absolute directory after every successful TAP_Hdd_ChangeDir.
  std::function<void(const std::string&)> onDirectoryChanged;

  // --- What the test observes ---
  const std::vector<std::string>& calls() const { return calls_; }
  // Only the calls of one entry, e.g. callsTo("TAP_Hdd_ChangeDir").
  std::vector<std::string> callsTo(std::string_view entry) const;
  void clearCalls() { calls_.clear(); }
  const std::string& console() const { return console_; }
  const std::vector<DeliveredEvent>& delivered() const { return delivered_; }
  size_t queuedEvents() const { return events_.size(); }
  size_t liveBlocks() const { return blocks_.size(); }
  uint32_t allocationCalls() const { return allocationCalls_; }
  uint32_t badFrees() const { return badFrees_; }
  size_t openFiles() const { return files_.size(); }
  std::vector<TapRegion> liveRegions() const { return {regions_.begin(), regions_.end()}; }

  // Used by the fakes; not for tests.
  static FakePlatform& active();
  void record(std::string line) { calls_.push_back(std::move(line)); }
  std::string describe(const void* pointer) const;
  void* allocate(uint32_t size);
  int32_t release(void* block);
  TapFile* openFile(const char* name);
  uint32_t fileLength(TapFile* file);
  uint32_t readFile(void* buffer, uint32_t blockSize, uint32_t count, TapFile* file);
  void closeFile(TapFile* file);
  uint32_t changeDirectory(const char* path);
  int32_t exists(const char* name) const;
  void systemProc();
  void print(std::string_view text) { console_ += text; }
  TapRegion createRegion();
  void deleteRegion(TapRegion region) { regions_.erase(region); }

 private:
  struct Block {
    uint32_t serial;
    uint32_t size;
  };
  struct OpenFile {
    uint32_t serial;
    std::vector<uint8_t> bytes;
    size_t position = 0;
  };

  std::vector<std::string> calls_;
  std::string console_;
  std::deque<DeliveredEvent> events_;
  std::vector<DeliveredEvent> delivered_;
  TapEventHandler handlerOverride_ = nullptr;
  uint32_t idleCalls_ = 0;
  std::map<const void*, Block> blocks_;
  uint32_t allocationCalls_ = 0;
  uint32_t failAllocationOn_ = 0;
  bool failEveryAllocation_ = false;
  uint32_t badFrees_ = 0;
  std::map<const TapFile*, OpenFile> files_;
  uint32_t fileSerial_ = 0;
  std::set<TapRegion> regions_;
  std::vector<std::function<void()>> restoreWords_;

  template <typename Word>
  void install(Word& word, Word fake);
};

// Quoting and hex as the log writes them, for building expected lines.
std::string quoted(const char* text);
std::string hex(uint32_t value);

}  // namespace quarnel::test
