#pragma once
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "../platform/disk.h"
#include "../platform/screen.h"
#include "../platform/services.h"
#include "../platform/settings.h"

namespace tapsim {

inline constexpr int kTerminalCount = 20;

// Where the receiver's output goes: synced screens and the trace of calls.
struct ReceiverOutput {
  std::function<void(const Frame&, uint32_t page)> onSync;
  std::function<bool()> framesWanted;  // when it says no, onSync is not called
  std::FILE* trace = nullptr;  // JSON lines, one per platform call
};

// Text a module can grow without end, kept to a receiver's size: what comes
// after the first kMostBytes is only counted, and the summary says so.
class KeptText {
 public:
  static constexpr size_t kMostBytes = 256 << 10;
  void add(std::string_view more);
  const std::string& text() const { return text_; }
  bool empty() const { return text_.empty(); }
  uint64_t cut() const { return cut_; }

 private:
  std::string text_;
  uint64_t cut_ = 0;
};

// Everything the platform calls act on: the receiver's state, whichever side
// of a process boundary the module runs on.
class Receiver {
 public:
  Receiver(const ReceiverSettings& settings, ReceiverOutput output);
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  const ReceiverSettings settings;
  ReceiverOutput output;
  Screen screen;
  Channels channels;
  Memory memory;
  VirtualDisk disk;
  KeptText console;
  uint64_t printsCut = 0;  // TAP_Print texts longer than one print shows
  uint64_t syncs = 0;
  uint64_t keysDelivered = 0;
  std::array<KeptText, kTerminalCount> terminalText;

  void sync(uint32_t page);

  // Handles the module holds for open files: small numbers, the same on every
  // machine, never reused.
  uint32_t handleFor(TapFile* file);
  TapFile* fileFor(uint64_t handle) const;

 private:
  std::map<uint32_t, TapFile*> files_;
};

}  // namespace tapsim
