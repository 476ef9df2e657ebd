#include <cstdlib>

#include "services.h"

namespace tapsim {

Memory::~Memory() {
  for (auto& [block, size] : blocks_) std::free(block);
}

void* Memory::allocate(uint32_t size) {
  ++allocations_;
  if (allocations_ == failAt_) return nullptr;
  // A zero-byte request still gets a distinct block, as the C heap would give.
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) blocks_[block] = size;
  return block;
}

bool Memory::release(void* block) {
  const auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    ++badReleases_;
    return false;
  }
  std::free(block);
  blocks_.erase(it);
  return true;
}

uint64_t Memory::liveBytes() const {
  uint64_t total = 0;
  for (const auto& [block, size] : blocks_) total += size;
  return total;
}

}  // namespace tapsim
