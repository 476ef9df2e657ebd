#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tapsim {

// The tuner: which channel shows, and what the module asked of it.
class Channels {
 public:
  Channels(uint32_t first, uint32_t second) : current_{first, second}, saved_{first, second} {}
  std::pair<uint32_t, uint32_t> current() const { return current_; }
  std::pair<uint32_t, uint32_t> atStart() const { return saved_; }
  bool playing() const { return playing_; }
  uint32_t stops() const { return stops_; }
  uint32_t starts() const { return starts_; }
  void stop() {
    playing_ = false;
    ++stops_;
  }
  void start(uint32_t first, uint32_t second) {
    current_ = {first, second};
    playing_ = true;
    ++starts_;
  }

 private:
  std::pair<uint32_t, uint32_t> current_, saved_;
  bool playing_ = true;
  uint32_t stops_ = 0, starts_ = 0;
};

// The platform's heap, as the receiver accounts it: live blocks, a receiver-
// sized limit on what they may hold together, and one allocation that can be
// told to fail. The blocks themselves live in the module's process.
class Memory {
 public:
  explicit Memory(uint64_t failingAllocation = 0, uint64_t limit = kDefaultMemoryLimit)
      : failAt_(failingAllocation), limit_(limit) {}
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;

  static constexpr uint64_t kDefaultMemoryLimit = 16u << 20;
  // Blocks held at once, however small: each costs the host a record.
  static constexpr size_t kMostBlocks = 1u << 20;

  // Whether a request of this size is granted; counts it either way.
  bool admit(uint32_t size);
  // The block the module's heap gave for a granted request.
  void record(uint64_t block, uint32_t size);
  bool release(uint64_t block);  // false for a block this heap never gave out
  size_t liveBlocks() const { return blocks_.size(); }
  uint64_t liveBytes() const { return liveBytes_; }
  uint64_t allocations() const { return allocations_; }
  uint64_t badReleases() const { return badReleases_; }
  uint64_t refusedOverLimit() const { return overLimit_; }
  uint64_t refusedTooMany() const { return tooMany_; }
  uint64_t limit() const { return limit_; }
  // Whether the allocation told to fail ever came.
  bool injectionFired() const { return failAt_ != 0 && allocations_ >= failAt_; }
  uint64_t failingAllocation() const { return failAt_; }

 private:
  std::map<uint64_t, uint32_t> blocks_;
  uint64_t failAt_;
  uint64_t limit_;
  uint64_t liveBytes_ = 0;
  uint64_t allocations_ = 0;
  uint64_t badReleases_ = 0;
  uint64_t overLimit_ = 0;
  uint64_t tooMany_ = 0;
};

}  // namespace tapsim
