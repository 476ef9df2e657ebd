#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string_view>
#include <vector>

#include "canvas.h"

namespace tapsim {

inline constexpr int32_t kScreenWidth = 720;
inline constexpr int32_t kScreenHeight = 576;
inline constexpr size_t kScreenPixels = size_t{kScreenWidth} * kScreenHeight;
inline constexpr int32_t kMaxRegionSide = 4096;

using Frame = std::vector<uint32_t>;  // kScreenWidth x kScreenHeight ARGB words

// The OSD: regions the module draws into, composed over the live picture.
class Screen {
 public:
  // What the OSD holds at once, as a receiver's OSD memory would: regions,
  // and their pixels together (64 full screens).
  static constexpr size_t kMostRegions = 1024;
  static constexpr size_t kMostPixels = 64 * kScreenPixels;
  explicit Screen(size_t mostPixels = kMostPixels) : mostPixels_(mostPixels) {}
  size_t mostPixels() const { return mostPixels_; }

  // Whether regions hold pixels. A run whose screens nobody looks at (no
  // window, no output made of frames) need not draw them: every call is
  // checked, counted and answered as before. Set before the first region;
  // without pixels, compose() has nothing to show.
  void keepPixels(bool keep) { keepPixels_ = keep; }

  // Returns the new region's handle, or 0 when the size is unusable or the OSD is full.
  uint16_t createRegion(int64_t x, int64_t y, int64_t width, int64_t height);
  bool deleteRegion(uint16_t handle);
  bool fillBox(uint16_t handle, int64_t x, int64_t y, int64_t width, int64_t height, uint32_t colour);
  bool putText(uint16_t handle, int64_t x, int64_t y, int64_t maxX, std::string_view text,
               uint32_t foreground, uint32_t background);

  // What the viewer sees: the live layer (or black), then each region in
  // creation order. The frame stays valid until the screen next changes.
  const Frame& compose(bool livePicture, int32_t channel);
  size_t regionCount() const { return regions_.size(); }
  uint64_t refusedRegions() const { return refused_; }

 private:
  struct Region {
    int64_t x = 0, y = 0;
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
    bool opaque = false;  // every pixel's alpha is 0xFF, as far as what was drawn tells
    Canvas canvas() { return {pixels, width, height}; }
    bool isScreen() const { return x == 0 && y == 0 && width == kScreenWidth && height == kScreenHeight; }
  };
  Region* find(uint16_t handle);
  const Region* topmostOpaqueScreen() const;
  void blendRegion(const Region& region);
  std::map<uint16_t, Region> regions_;  // ordered by handle, which is creation order
  uint16_t nextHandle_ = 1;
  size_t mostPixels_;
  size_t pixels_ = 0;  // of every region held
  bool keepPixels_ = true;
  uint64_t refused_ = 0;
  Frame composed_;
};

// The picture a channel shows while it plays: recognisable, and the same on every machine.
Frame livePicture(int32_t channel);

}  // namespace tapsim
