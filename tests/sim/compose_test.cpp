// The compositor takes shortcuts (an opaque full-screen region is the screen;
// an opaque region is copied, not blended). Whatever was drawn, the result must
// be what blending every region, pixel by pixel and in order, gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/font.h"
#include "platform/screen.h"

namespace tapsim {
namespace {

// The plain model: regions as pixel arrays, blended one pixel at a time.
struct ModelRegion {
  int64_t x, y;
  int32_t width, height;
  std::vector<uint32_t> pixels;
};

uint32_t blendOne(uint32_t over, uint32_t under) {
  const uint32_t alpha = over >> 24;
  uint32_t out = 0xFF000000u;
  for (int shift = 0; shift <= 16; shift += 8) {
    const uint32_t top = (over >> shift) & 0xFF, bottom = (under >> shift) & 0xFF;
    out |= ((top * alpha + bottom * (255 - alpha) + 127) / 255) << shift;
  }
  return out;
}

class Both {
 public:
  uint16_t create(int64_t x, int64_t y, int32_t width, int32_t height) {
    model_.push_back({x, y, width, height, std::vector<uint32_t>(size_t(width) * height, 0)});
    return screen_.createRegion(x, y, width, height);
  }
  void fill(uint16_t region, int64_t x, int64_t y, int64_t width, int64_t height, uint32_t colour) {
    ASSERT_TRUE(screen_.fillBox(region, x, y, width, height, colour));
    ModelRegion& m = model_.at(region - 1u);
    for (int64_t row = std::max<int64_t>(y, 0); row < std::min<int64_t>(y + height, m.height); ++row)
      for (int64_t column = std::max<int64_t>(x, 0); column < std::min<int64_t>(x + width, m.width); ++column)
        m.pixels[row * m.width + column] = colour;
  }
  void text(uint16_t region, int64_t x, int64_t y, const std::string& text, uint32_t ink, uint32_t paper) {
    ASSERT_TRUE(screen_.putText(region, x, y, 1000, text, ink, paper));
    ModelRegion& m = model_.at(region - 1u);
    drawText({m.pixels, m.width, m.height}, x, y, 1000, text, ink, paper);
  }

  Frame expected(bool live, int32_t channel) const {
    Frame frame = live ? livePicture(channel) : Frame(kScreenPixels, 0xFF000000u);
    for (const ModelRegion& m : model_)
      for (int64_t row = 0; row < m.height; ++row)
        for (int64_t column = 0; column < m.width; ++column) {
          const int64_t x = m.x + column, y = m.y + row;
          if (x < 0 || y < 0 || x >= kScreenWidth || y >= kScreenHeight) continue;
          uint32_t& under = frame[y * kScreenWidth + x];
          under = blendOne(m.pixels[row * m.width + column], under);
        }
    return frame;
  }
  const Frame& composed(bool live, int32_t channel) { return screen_.compose(live, channel); }

 private:
  Screen screen_;
  std::vector<ModelRegion> model_;  // region handle N is model_[N - 1]
};

constexpr uint32_t kOpaqueRed = 0xFFFF0000, kOpaqueGreen = 0xFF00FF00, kHalfBlue = 0x800000FF, kClear = 0x00FFFFFF;

struct Scene {
  const char* name;
  std::function<void(Both&)> draw;
};

void PrintTo(const Scene& scene, std::ostream* out) { *out << scene.name; }

const Scene kScenes[] = {
    {"opaque_screen", [](Both& b) { b.fill(b.create(0, 0, 720, 576), 0, 0, 720, 576, kOpaqueRed); }},
    {"translucent_box_on_opaque_screen",
     [](Both& b) {
       const uint16_t r = b.create(0, 0, 720, 576);
       b.fill(r, 0, 0, 720, 576, kOpaqueRed);
       b.fill(r, 100, 100, 50, 20, kHalfBlue);
     }},
    {"clear_box_on_opaque_screen",
     [](Both& b) {
       const uint16_t r = b.create(0, 0, 720, 576);
       b.fill(r, 0, 0, 720, 576, kOpaqueRed);
       b.fill(r, 0, 0, 30, 30, kClear);
     }},
    {"opaque_again_after_a_translucent_box",
     [](Both& b) {
       const uint16_t r = b.create(0, 0, 720, 576);
       b.fill(r, 0, 0, 720, 576, kHalfBlue);
       b.fill(r, 0, 0, 720, 576, kOpaqueGreen);
     }},
    {"text_with_clear_paper_keeps_screen_opaque",
     [](Both& b) {
       const uint16_t r = b.create(0, 0, 720, 576);
       b.fill(r, 0, 0, 720, 576, kOpaqueRed);
       b.text(r, 10, 10, "Level 100%", kOpaqueGreen, 0);
     }},
    {"translucent_ink",
     [](Both& b) {
       const uint16_t r = b.create(0, 0, 720, 576);
       b.fill(r, 0, 0, 720, 576, kOpaqueRed);
       b.text(r, 10, 10, "Level 100%", kHalfBlue, 0);
     }},
    {"translucent_paper",
     [](Both& b) {
       const uint16_t r = b.create(0, 0, 720, 576);
       b.fill(r, 0, 0, 720, 576, kOpaqueRed);
       b.text(r, 10, 10, "Level 100%", kOpaqueGreen, kHalfBlue);
     }},
    {"partly_filled_screen",
     [](Both& b) { b.fill(b.create(0, 0, 720, 576), 0, 0, 719, 576, kOpaqueRed); }},
    {"small_region_over_opaque_screen",
     [](Both& b) {
       b.fill(b.create(0, 0, 720, 576), 0, 0, 720, 576, kOpaqueRed);
       b.fill(b.create(50, 60, 40, 30), 0, 0, 40, 30, kHalfBlue);
     }},
    {"opaque_screen_hides_an_earlier_region",
     [](Both& b) {
       b.fill(b.create(50, 60, 40, 30), 0, 0, 40, 30, kOpaqueGreen);
       b.fill(b.create(0, 0, 720, 576), 0, 0, 720, 576, kOpaqueRed);
     }},
    {"opaque_region_larger_than_the_screen",
     [](Both& b) { b.fill(b.create(-10, -20, 800, 700), 0, 0, 800, 700, kOpaqueGreen); }},
    {"opaque_region_off_the_right_edge",
     [](Both& b) {
       const uint16_t r = b.create(700, 500, 100, 100);
       b.fill(r, 0, 0, 100, 100, kOpaqueGreen);
       b.fill(b.create(-5, -5, 20, 20), 0, 0, 20, 20, kHalfBlue);
     }},
};

class Compositor : public testing::TestWithParam<Scene> {};

TEST_P(Compositor, ShortcutsGiveWhatPlainBlendingGives) {
  for (const bool live : {false, true}) {
    SCOPED_TRACE(live ? "over live TV" : "over black");
    Both both;
    GetParam().draw(both);
    const Frame expected = both.expected(live, 4);
    const Frame& actual = both.composed(live, 4);
    ASSERT_EQ(actual.size(), kScreenPixels);
    EXPECT_EQ(actual, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Scenes, Compositor, testing::ValuesIn(kScenes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Compositor, FrameFollowsLaterDrawing) {
  Both both;
  const uint16_t r = both.create(0, 0, 720, 576);
  both.fill(r, 0, 0, 720, 576, kOpaqueRed);
  const Frame first = both.composed(false, 0);
  both.fill(r, 0, 0, 720, 576, kHalfBlue);
  EXPECT_EQ(both.composed(false, 0), both.expected(false, 0));
  EXPECT_NE(both.composed(false, 0), first);
}

}  // namespace
}  // namespace tapsim
