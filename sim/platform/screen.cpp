#include "screen.h"

#include <cwchar>

#include <algorithm>
#include <iterator>
#include <string>

#include "font.h"

namespace tapsim {
namespace {

struct Span {
  int64_t begin, end;  // half-open
};

Span clip(int64_t start, int64_t length, int64_t limit) {
  if (length <= 0) return {0, 0};
  const int64_t begin = std::clamp<int64_t>(start, 0, limit);
  // start + length cannot overflow: both come from 32-bit platform arguments.
  const int64_t end = std::clamp<int64_t>(start + length, 0, limit);
  return {begin, std::max(begin, end)};
}

uint32_t blend(uint32_t over, uint32_t under) {
  const uint32_t alpha = over >> 24;
  if (alpha == 0xFF) return over;
  if (alpha == 0) return under;
  uint32_t out = 0xFF000000u;
  for (int shift = 0; shift <= 16; shift += 8) {
    const uint32_t top = (over >> shift) & 0xFF, bottom = (under >> shift) & 0xFF;
    out |= ((top * alpha + bottom * (255 - alpha) + 127) / 255) << shift;
  }
  return out;
}

}  // namespace

uint16_t Screen::createRegion(int64_t x, int64_t y, int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > kMaxRegionSide || height > kMaxRegionSide) return 0;
  const auto size = static_cast<size_t>(width * height);
  if (regions_.size() >= kMostRegions || pixels_ + size > mostPixels_) {
    ++refused_;
    return 0;
  }
  // Fewer regions than handles: a free one is always near.
  while (nextHandle_ == 0 || regions_.contains(nextHandle_)) ++nextHandle_;
  const uint16_t handle = nextHandle_++;
  Region& region = regions_[handle];
  region.x = x;
  region.y = y;
  region.width = static_cast<int32_t>(width);
  region.height = static_cast<int32_t>(height);
  if (keepPixels_) region.pixels.assign(size, 0u);  // transparent until drawn
  pixels_ += size;
  return handle;
}

bool Screen::deleteRegion(uint16_t handle) {
  const auto found = regions_.find(handle);
  if (found == regions_.end()) return false;
  pixels_ -= static_cast<size_t>(found->second.width) * static_cast<size_t>(found->second.height);
  regions_.erase(found);
  return true;
}

Screen::Region* Screen::find(uint16_t handle) {
  const auto it = regions_.find(handle);
  return it == regions_.end() ? nullptr : &it->second;
}

bool Screen::fillBox(uint16_t handle, int64_t x, int64_t y, int64_t width, int64_t height,
                     uint32_t colour) {
  Region* region = find(handle);
  if (region == nullptr) return false;
  const Span columns = clip(x, width, region->width);
  const Span rows = clip(y, height, region->height);
  if (columns.begin == columns.end || rows.begin == rows.end) return true;
  if (colour >> 24 != 0xFF)
    region->opaque = false;
  else if (columns.end - columns.begin == region->width && rows.end - rows.begin == region->height)
    region->opaque = true;
  if (region->pixels.empty()) return true;
  uint32_t* pixels = region->pixels.data();
  // Boxes as wide as the region are one run of pixels, the common full-screen
  // fill among them; the C library's wide-character fill is its tuned memset
  // for 32-bit words.
  if (columns.end - columns.begin == region->width) {
    static_assert(sizeof(wchar_t) == sizeof(uint32_t));
    std::wmemset(reinterpret_cast<wchar_t*>(pixels + rows.begin * region->width), static_cast<wchar_t>(colour),
                 static_cast<size_t>((rows.end - rows.begin) * region->width));
    return true;
  }
  for (int64_t row = rows.begin; row < rows.end; ++row) {
    uint32_t* line = pixels + row * region->width;
    std::fill(line + columns.begin, line + columns.end, colour);
  }
  return true;
}

bool Screen::putText(uint16_t handle, int64_t x, int64_t y, int64_t maxX, std::string_view text,
                     uint32_t foreground, uint32_t background) {
  Region* region = find(handle);
  if (region == nullptr) return false;
  // A background of alpha 0 leaves the pixels behind the text as they were.
  const uint32_t backgroundAlpha = background >> 24;
  if (foreground >> 24 != 0xFF || (backgroundAlpha != 0 && backgroundAlpha != 0xFF)) region->opaque = false;
  drawText(region->canvas(), x, y, maxX, text, foreground, background);
  return true;
}

// An opaque region that is exactly the screen hides everything created before it.
const Screen::Region* Screen::topmostOpaqueScreen() const {
  const Region* found = nullptr;
  for (const auto& [handle, region] : regions_)
    if (region.opaque && region.isScreen()) found = &region;
  return found;
}

void Screen::blendRegion(const Region& region) {
  const Span columns = clip(region.x, region.width, kScreenWidth);
  const Span rows = clip(region.y, region.height, kScreenHeight);
  const int64_t count = columns.end - columns.begin;
  for (int64_t row = rows.begin; row < rows.end; ++row) {
    const uint32_t* source = region.pixels.data() + (row - region.y) * region.width + (columns.begin - region.x);
    uint32_t* target = composed_.data() + row * kScreenWidth + columns.begin;
    if (region.opaque) {
      std::copy_n(source, count, target);
      continue;
    }
    for (int64_t i = 0; i < count; ++i) target[i] = blend(source[i], target[i]);
  }
}

const Frame& Screen::compose(bool live, int32_t channel) {
  const Region* base = topmostOpaqueScreen();
  // The usual OSD, one opaque full-screen region on top, is the screen itself.
  if (base != nullptr && base == &std::prev(regions_.end())->second) return base->pixels;
  if (base != nullptr)
    composed_ = base->pixels;
  else if (live)
    composed_ = livePicture(channel);
  else
    composed_.assign(kScreenPixels, 0xFF000000u);
  bool above = base == nullptr;
  for (const auto& [handle, region] : regions_) {
    if (above) blendRegion(region);
    above = above || &region == base;
  }
  return composed_;
}

Frame livePicture(int32_t channel) {
  Frame frame(kScreenPixels);
  // A calm diagonal blend, so a picture left on screen is easy to tell from the OSD.
  for (int32_t row = 0; row < kScreenHeight; ++row) {
    for (int32_t column = 0; column < kScreenWidth; ++column) {
      const uint32_t blue = 96 + static_cast<uint32_t>(column * 96 / kScreenWidth);
      const uint32_t green = 48 + static_cast<uint32_t>(row * 96 / kScreenHeight);
      frame[row * kScreenWidth + column] = 0xFF000000u | 24u << 16 | green << 8 | blue;
    }
  }
  const std::string caption = "LIVE TV  channel " + std::to_string(channel);
  drawText({frame, kScreenWidth, kScreenHeight}, 40, 40, kScreenWidth, caption, 0xFFFFFFFFu, 0);
  return frame;
}

}  // namespace tapsim
