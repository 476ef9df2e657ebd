#include "services.h"

namespace tapsim {

bool Memory::admit(uint32_t size) {
  ++allocations_;
  if (allocations_ == failAt_) return false;
  if (liveBytes_ + size > limit_) {
    ++overLimit_;
    return false;
  }
  if (blocks_.size() >= kMostBlocks) {
    ++tooMany_;
    return false;
  }
  return true;
}

void Memory::record(uint64_t block, uint32_t size) {
  if (block == 0) return;
  blocks_[block] = size;
  liveBytes_ += size;
}

bool Memory::release(uint64_t block) {
  const auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    ++badReleases_;
    return false;
  }
  liveBytes_ -= it->second;
  blocks_.erase(it);
  return true;
}

}  // namespace tapsim
