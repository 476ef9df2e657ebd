#include <gtest/gtest.h>

#include <algorithm>

#include "platform/screen.h"

namespace tapsim {
namespace {

constexpr uint32_t kRed = 0xFFFF0000, kBlack = 0xFF000000;

uint32_t at(const Frame& frame, int32_t x, int32_t y) { return frame[y * kScreenWidth + x]; }

size_t countOf(const Frame& frame, uint32_t colour) {
  return static_cast<size_t>(std::count(frame.begin(), frame.end(), colour));
}

struct Clip {
  const char* name;
  int64_t x, y, width, height;
  size_t expectedPixels;  // inside a 100 x 50 region at 10, 20
};

class FillClipping : public ::testing::TestWithParam<Clip> {};

TEST_P(FillClipping, NeverWritesOutsideTheRegion) {
  const Clip c = GetParam();
  Screen screen;
  const uint16_t region = screen.createRegion(10, 20, 100, 50);
  ASSERT_TRUE(screen.fillBox(region, c.x, c.y, c.width, c.height, kRed));
  const Frame frame = screen.compose(false, 0);
  EXPECT_EQ(countOf(frame, kRed), c.expectedPixels);
  for (int32_t y = 0; y < kScreenHeight; ++y)
    for (int32_t x = 0; x < kScreenWidth; ++x)
      if (x < 10 || x >= 110 || y < 20 || y >= 70) {
        ASSERT_EQ(at(frame, x, y), kBlack) << x << "," << y;
      }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, FillClipping,
    ::testing::Values(Clip{"Inside", 5, 5, 10, 10, 100}, Clip{"PastRight", 90, 0, 50, 1, 10},
                      Clip{"PastBottom", 0, 45, 1, 50, 5}, Clip{"WholeAndMore", 0, 0, 4000, 4000, 5000},
                      Clip{"StartsLeftOfRegion", -5, 0, 10, 1, 5}, Clip{"StartsAbove", 0, -30, 1, 40, 10},
                      Clip{"EntirelyOutside", 200, 200, 10, 10, 0}, Clip{"ZeroWidth", 0, 0, 0, 10, 0},
                      Clip{"HugeUnsigned", 0xFFFFFFF0LL, 0, 0xFFFFFFFFLL, 0xFFFFFFFFLL, 0},
                      Clip{"HugeSize", 0, 0, 0xFFFFFFFFLL, 0xFFFFFFFFLL, 5000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Screen, RegionPartlyOffScreenIsClippedToTheScreen) {
  Screen screen;
  const uint16_t region = screen.createRegion(700, 560, 100, 100);
  screen.fillBox(region, 0, 0, 100, 100, kRed);
  EXPECT_EQ(countOf(screen.compose(false, 0), kRed), 20u * 16u);
}

TEST(Screen, UnknownOrDeletedRegionIsRefused) {
  Screen screen;
  const uint16_t region = screen.createRegion(0, 0, 10, 10);
  EXPECT_FALSE(screen.fillBox(region + 1, 0, 0, 1, 1, kRed));
  EXPECT_TRUE(screen.deleteRegion(region));
  EXPECT_FALSE(screen.deleteRegion(region));
  EXPECT_FALSE(screen.fillBox(region, 0, 0, 1, 1, kRed));
  EXPECT_EQ(screen.regionCount(), 0u);
}

TEST(Screen, UnusableRegionSizesAreRefused) {
  Screen screen;
  EXPECT_EQ(screen.createRegion(0, 0, 0, 10), 0);
  EXPECT_EQ(screen.createRegion(0, 0, 10, kMaxRegionSide + 1), 0);
  EXPECT_NE(screen.createRegion(0, 0, 720, 576), 0);
}

// A run whose screens nobody sees keeps no pixels; the module cannot tell.
TEST(Screen, WithoutPixelsEveryCallIsAnsweredAndTheOsdFillsAsWithThem) {
  for (const bool keep : {true, false}) {
    Screen screen(2 * kScreenPixels);
    screen.keepPixels(keep);
    const uint16_t first = screen.createRegion(0, 0, 720, 576);
    EXPECT_NE(screen.createRegion(0, 0, 720, 576), 0);
    EXPECT_EQ(screen.createRegion(0, 0, 1, 1), 0) << "the OSD is full";
    EXPECT_TRUE(screen.fillBox(first, 0, 0, 720, 576, kRed));
    EXPECT_TRUE(screen.putText(first, 10, 10, 400, "text", kRed, 0));
    EXPECT_FALSE(screen.fillBox(first + 7, 0, 0, 1, 1, kRed));
    EXPECT_TRUE(screen.deleteRegion(first));
    EXPECT_NE(screen.createRegion(0, 0, 720, 576), 0) << "a deleted region gives its room back";
  }
}

TEST(Screen, UndrawnRegionLetsTheLivePictureThroughAndBlackWhenStopped) {
  Screen screen;
  screen.createRegion(0, 0, 720, 576);
  EXPECT_EQ(screen.compose(true, 7), livePicture(7));
  EXPECT_EQ(countOf(screen.compose(false, 7), kBlack), static_cast<size_t>(kScreenWidth * kScreenHeight));
}

TEST(Screen, HalfTransparentColourBlendsOverWhatIsBehind) {
  Screen screen;
  const uint16_t region = screen.createRegion(0, 0, 1, 1);
  screen.fillBox(region, 0, 0, 1, 1, 0x80FFFFFF);
  EXPECT_EQ(at(screen.compose(false, 0), 0, 0), 0xFF808080u);
}

TEST(Screen, LaterRegionsCoverEarlierOnes) {
  Screen screen;
  const uint16_t first = screen.createRegion(0, 0, 10, 10);
  const uint16_t second = screen.createRegion(5, 0, 10, 10);
  screen.fillBox(second, 0, 0, 10, 10, 0xFF00FF00);
  screen.fillBox(first, 0, 0, 10, 10, kRed);
  const Frame frame = screen.compose(false, 0);
  EXPECT_EQ(at(frame, 4, 0), kRed);
  EXPECT_EQ(at(frame, 5, 0), 0xFF00FF00u);
}

TEST(ScreenText, StopsBeforeMaxXAndStaysInTheRegion) {
  Screen screen;
  const uint16_t region = screen.createRegion(0, 0, 200, 40);
  ASSERT_TRUE(screen.putText(region, 10, 5, 60, "8888888888888888", kRed, 0xFF0000FF));
  const Frame frame = screen.compose(false, 0);
  bool drewSomething = false;
  for (int32_t y = 0; y < 40; ++y) {
    for (int32_t x = 0; x < kScreenWidth; ++x) {
      const uint32_t pixel = at(frame, x, y);
      if (pixel == kRed || pixel == 0xFF0000FFu) {
        drewSomething = true;
        EXPECT_LT(x, 60);
        EXPECT_GE(x, 10);
      }
    }
  }
  EXPECT_TRUE(drewSomething);
}

TEST(ScreenText, TransparentBackgroundLeavesWhatIsBehind) {
  Screen screen;
  const uint16_t region = screen.createRegion(0, 0, 100, 40);
  screen.fillBox(region, 0, 0, 100, 40, 0xFF123456);
  screen.putText(region, 0, 0, 100, "0%", kRed, 0);
  const Frame frame = screen.compose(false, 0);
  size_t kept = 0, text = 0;
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 100; ++x) {
      kept += at(frame, x, y) == 0xFF123456u;
      text += at(frame, x, y) == kRed;
    }
  EXPECT_GT(text, 0u);
  EXPECT_EQ(kept + text, 4000u);
}

}  // namespace
}  // namespace tapsim
