#pragma once
#include <cstdint>
#include <vector>

namespace tapsim {

// A picture held in memory: ARGB words, row after row.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> argb;
};

}  // namespace tapsim
