#pragma once
// The module run inside the calling process, its entry words answered
// directly: for benchmarks and tests that need no board. tapsim itself runs
// every module on a board in a process of its own.
#include <cstdint>
#include <optional>
#include <set>

#include "receiver.h"

namespace tapsim {

// Where key presses come from. Returns the next key, if any is waiting.
struct KeySource {
  virtual ~KeySource() = default;
  virtual std::optional<uint32_t> next() = 0;
};

// Points the entry words of the platform library at this receiver and gives
// the task table a fresh entry; one binding is current at a time.
class InProcessBinding {
 public:
  InProcessBinding(Receiver& receiver, KeySource& keys);
  ~InProcessBinding();
  InProcessBinding(const InProcessBinding&) = delete;
  InProcessBinding& operator=(const InProcessBinding&) = delete;

  // One turn of the platform: hands the next key, if any, to the module's handler.
  void systemTurn();
  uint32_t changeDir(const char* path);

  Receiver& receiver;
  KeySource& keys;
  // The blocks the module holds, given back when the binding ends.
  std::set<void*> blocks;
};

}  // namespace tapsim
