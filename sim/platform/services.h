#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tapsim {

// The tuner: which channel shows, and what the module asked of it.
class Channels {
 public:
  Channels(int32_t first, int32_t second) : current_{first, second}, saved_{first, second} {}
  std::pair<int32_t, int32_t> current() const { return current_; }
  std::pair<int32_t, int32_t> atStart() const { return saved_; }
  bool playing() const { return playing_; }
  int32_t stops() const { return stops_; }
  int32_t starts() const { return starts_; }
  void stop() {
    playing_ = false;
    ++stops_;
  }
  void start(int32_t first, int32_t second) {
    current_ = {first, second};
    playing_ = true;
    ++starts_;
  }

 private:
  std::pair<int32_t, int32_t> current_, saved_;
  bool playing_ = true;
  int32_t stops_ = 0, starts_ = 0;
};

// The platform's heap: counts live blocks, and can be told to fail one allocation.
class Memory {
 public:
  explicit Memory(uint64_t failingAllocation = 0) : failAt_(failingAllocation) {}
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;
  ~Memory();
  void* allocate(uint32_t size);
  bool release(void* block);  // false for a block this heap never gave out
  size_t liveBlocks() const { return blocks_.size(); }
  uint64_t liveBytes() const;
  uint64_t allocations() const { return allocations_; }
  uint64_t badReleases() const { return badReleases_; }

 private:
  std::map<void*, uint32_t> blocks_;
  uint64_t failAt_;
  uint64_t allocations_ = 0;
  uint64_t badReleases_ = 0;
};

}  // namespace tapsim
