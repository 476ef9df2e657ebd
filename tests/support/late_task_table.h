// A task table that appears while the test runs: a small shared object that
// exports `_tapTask` and `_curTapTask`, loaded with global scope while this
// object lives and unloaded after. For executables built with NO_TASK_TABLE,
// to show what the library does when the firmware's symbols come and go.
#pragma once
#include <cstdint>

#include "frame/firmware.h"

namespace quarnel::test {

class LateTaskTable {
 public:
  LateTaskTable();
  ~LateTaskTable();
  LateTaskTable(const LateTaskTable&) = delete;
  LateTaskTable& operator=(const LateTaskTable&) = delete;

  TapTaskEntry* table() const;
  int32_t* index() const;
  // Whether the running program can see the symbols at all (through the loader).
  static bool visible();

 private:
  void* handle_ = nullptr;
};

}  // namespace quarnel::test
