#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../platform/disk.h"
#include "../platform/screen.h"
#include "../platform/services.h"
#include "../platform/settings.h"

namespace tapsim {


// Where the receiver's output goes: synced screens and the trace of calls.
struct ReceiverOutput {
  std::function<void(const Frame&)> onSync;
  std::FILE* trace = nullptr;  // JSON lines, one per platform call
  // Called when the keys have run out and the module still waits for more.
  std::function<void()> onStalled;
};

// Where key presses come from. Returns the next key, or nothing when none is
// waiting; `finished` tells that no key will ever come again.
struct KeySource {
  virtual ~KeySource() = default;
  virtual std::optional<uint32_t> next() = 0;
  virtual bool finished() const = 0;
};

// Everything the platform calls act on. One receiver is current at a time;
// the entry words reach it through `current()`.
class Receiver {
 public:
  Receiver(const ReceiverSettings& settings, ReceiverOutput output, KeySource& keys);
  ~Receiver();
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  static Receiver& current();

  const ReceiverSettings settings;
  ReceiverOutput output;
  KeySource& keys;
  Screen screen;
  Channels channels;
  Memory memory;
  VirtualDisk disk;
  std::string console;
  uint64_t syncs = 0;
  uint64_t keysDelivered = 0;
  // How long the module may go on waiting once the keys have run out; 0: for ever.
  std::chrono::milliseconds idleLimit{0};
  std::optional<std::chrono::steady_clock::time_point> idleSince;

  void sync();
  // Changes the disk's directory and keeps the firmware's record of it in step.
  uint32_t changeDir(std::string_view path);
  // One turn of the platform: hands the next key, if any, to the module's handler.
  void systemTurn();
};

// Points every entry word of the platform library at the current receiver.
void fillEntryWords();

}  // namespace tapsim
