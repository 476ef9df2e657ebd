#pragma once
#include <cstdint>
#include <span>

namespace tapsim {

// A rectangle of ARGB pixels, row after row; drawing code clips to it.
struct Canvas {
  std::span<uint32_t> pixels;
  int32_t width = 0;
  int32_t height = 0;
};

}  // namespace tapsim
