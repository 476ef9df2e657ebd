#include "platform/font.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace tapsim {
namespace {

constexpr uint32_t kPaper = 0xFF203040;
constexpr uint32_t kInk = 0xFFFFEE00;
constexpr uint32_t kTransparent = 0x00FFFFFF;  // alpha 0, other bits set
constexpr uint32_t kCellFill = 0xFF0000AA;
constexpr uint32_t kGuard = 0xDEADBEEF;

std::vector<uint32_t> renderCell(unsigned char byte) {
  std::vector<uint32_t> pixels(size_t(kFontCellWidth) * kFontCellHeight, kPaper);
  drawText({pixels, kFontCellWidth, kFontCellHeight}, 0, 0, kFontCellWidth, std::string(1, char(byte)), kInk, 0);
  return pixels;
}

size_t inkCount(const std::vector<uint32_t>& pixels) { return size_t(std::count(pixels.begin(), pixels.end(), kInk)); }

TEST(Font, EveryPrintableGlyphHasInkAndSpaceHasNone) {
  EXPECT_EQ(inkCount(renderCell(' ')), 0u);
  for (int byte = 0x21; byte <= 0x7E; ++byte) {
    EXPECT_GT(inkCount(renderCell(byte)), 0u) << "glyph 0x" << std::hex << byte;
  }
}

TEST(Font, EveryPrintableGlyphDiffersFromAllOthers) {
  std::set<std::vector<uint32_t>> seen;
  for (int byte = 0x20; byte <= 0x7E; ++byte) {
    EXPECT_TRUE(seen.insert(renderCell(byte)).second) << "glyph 0x" << std::hex << byte << " repeats another";
  }
}

TEST(Font, UnknownBytesDrawOneVisiblePlaceholderUnlikeAnyGlyph) {
  std::set<std::vector<uint32_t>> printable;
  for (int byte = 0x20; byte <= 0x7E; ++byte) printable.insert(renderCell(byte));
  const auto placeholder = renderCell(0x7F);
  EXPECT_GT(inkCount(placeholder), 0u);
  EXPECT_EQ(printable.count(placeholder), 0u);
  for (const int byte : {0x00, 0x09, 0x0A, 0x1F, 0x80, 0xC3, 0xFF}) {
    EXPECT_EQ(renderCell(byte), placeholder) << "byte 0x" << std::hex << byte;
  }
}

TEST(Font, LineFitsTheTwentyOnePixelRowsAndIsNotTiny) {
  EXPECT_LE(kFontCellHeight, 21);
  EXPECT_GE(kFontCellHeight, 14);
  EXPECT_GE(kFontCellWidth, 8);
}

TEST(Font, TextWidthIsOneCellPerByte) {
  EXPECT_EQ(textWidth(""), 0);
  EXPECT_EQ(textWidth("100%"), 4 * kFontCellWidth);
  EXPECT_EQ(textWidth(std::string(1000, 'x')), 1000 * kFontCellWidth);
}

TEST(Font, EachByteTakesTheNextCell) {
  const int32_t width = 3 * kFontCellWidth, height = kFontCellHeight;
  std::vector<uint32_t> together(size_t(width) * height, kPaper);
  std::vector<uint32_t> apart = together;
  drawText({together, width, height}, 0, 0, width, "8%g", kInk, kCellFill);
  drawText({apart, width, height}, 0, 0, width, "8", kInk, kCellFill);
  drawText({apart, width, height}, kFontCellWidth, 0, width, "%", kInk, kCellFill);
  drawText({apart, width, height}, 2 * kFontCellWidth, 0, width, "g", kInk, kCellFill);
  EXPECT_EQ(together, apart);
}

struct Surface {
  static constexpr int32_t kWidth = 40;
  static constexpr int32_t kHeight = 30;
  static constexpr size_t kGuardPixels = 64;
  std::vector<uint32_t> buffer = std::vector<uint32_t>(kGuardPixels * 2 + size_t(kWidth) * kHeight, kGuard);
  Surface() { std::fill(buffer.begin() + kGuardPixels, buffer.end() - kGuardPixels, kPaper); }
  Canvas canvas() { return {std::span(buffer).subspan(kGuardPixels, size_t(kWidth) * kHeight), kWidth, kHeight}; }
  uint32_t at(int32_t x, int32_t y) const { return buffer[kGuardPixels + size_t(y) * kWidth + size_t(x)]; }
  bool guardsIntact() const {
    return std::all_of(buffer.begin(), buffer.begin() + kGuardPixels, [](uint32_t p) { return p == kGuard; }) &&
           std::all_of(buffer.end() - kGuardPixels, buffer.end(), [](uint32_t p) { return p == kGuard; });
  }
};

// The same text drawn without any clipping into a large canvas, with the small
// canvas's origin at (kMargin, kMargin): what the clipped drawing must show.
struct Unclipped {
  static constexpr int32_t kMargin = 64;
  static constexpr int32_t kWidth = Surface::kWidth + 2 * kMargin;
  static constexpr int32_t kHeight = Surface::kHeight + 2 * kMargin;
  std::vector<uint32_t> pixels = std::vector<uint32_t>(size_t(kWidth) * kHeight, kPaper);
  Unclipped(int64_t x, int64_t y, std::string_view text, uint32_t background) {
    drawText({pixels, kWidth, kHeight}, x + kMargin, y + kMargin, kWidth, text, kInk, background);
  }
  uint32_t at(int32_t x, int32_t y) const { return pixels[size_t(y + kMargin) * kWidth + size_t(x + kMargin)]; }
};

struct ClipCase {
  const char* name;
  int64_t x, y, maxX;
};

void PrintTo(const ClipCase& clip, std::ostream* out) {
  *out << clip.name << " (x " << clip.x << ", y " << clip.y << ", maxX " << clip.maxX << ")";
}

class FontClipping : public testing::TestWithParam<std::tuple<ClipCase, uint32_t>> {};

constexpr std::string_view kClipText = "Ag%9";

TEST_P(FontClipping, ShowsExactlyTheUnclippedPixelsInsideCanvasAndLeftOfMaxX) {
  const auto& [clip, background] = GetParam();
  Surface surface;
  drawText(surface.canvas(), clip.x, clip.y, clip.maxX, kClipText, kInk, background);
  const Unclipped reference(clip.x, clip.y, kClipText, background);
  EXPECT_TRUE(surface.guardsIntact()) << "wrote outside the canvas";
  size_t drawn = 0;
  for (int32_t y = 0; y < Surface::kHeight; ++y) {
    for (int32_t x = 0; x < Surface::kWidth; ++x) {
      const uint32_t expected = x < clip.maxX ? reference.at(x, y) : kPaper;
      ASSERT_EQ(surface.at(x, y), expected) << "pixel " << x << "," << y;
      drawn += expected != kPaper;
    }
  }
  EXPECT_GT(drawn, 0u) << "case draws nothing, so it proves nothing";
}

const ClipCase kClipCases[] = {
    {"Inside", 2, 3, 1000},
    {"AcrossLeftEdge", -17, 4, 1000},
    {"AcrossTopEdge", 1, -9, 1000},
    {"AcrossRightEdge", 23, 2, 1000},
    {"AcrossBottomEdge", 0, Surface::kHeight - 7, 1000},
    {"AcrossAllEdges", -5, -5, Surface::kWidth + 100},
    {"MaxXInsideAGlyph", 0, 0, 17},
    {"MaxXAtACellEdge", 0, 0, kFontCellWidth},
    {"MaxXJustPastStart", 3, 0, 4},
    {"MaxXLeftOfCanvasEdgeWithTextAcrossLeftEdge", -7, 0, 9},
};

INSTANTIATE_TEST_SUITE_P(Edges, FontClipping,
                         testing::Combine(testing::ValuesIn(kClipCases), testing::Values(0u, kTransparent, kCellFill)),
                         [](const auto& info) {
                           const uint32_t background = std::get<1>(info.param);
                           return std::string(std::get<0>(info.param).name) +
                                  (background == kCellFill ? "OpaqueBackground" : background == 0 ? "NoBackground"
                                                                                                  : "ClearBackground");
                         });

struct OutsideCase {
  const char* name;
  int64_t x, y, maxX;
};

void PrintTo(const OutsideCase& where, std::ostream* out) {
  *out << where.name << " (x " << where.x << ", y " << where.y << ", maxX " << where.maxX << ")";
}

class FontOutside : public testing::TestWithParam<OutsideCase> {};

TEST_P(FontOutside, DrawsNothingAndDoesNotCrash) {
  const OutsideCase& where = GetParam();
  Surface surface;
  const Surface untouched;
  drawText(surface.canvas(), where.x, where.y, where.maxX, kClipText, kInk, kCellFill);
  EXPECT_EQ(surface.buffer, untouched.buffer);
}

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Positions, FontOutside,
    testing::Values(OutsideCase{"WhollyLeft", -4 * kFontCellWidth, 0, 1000},
                    OutsideCase{"WhollyAbove", 0, -kFontCellHeight, 1000},
                    OutsideCase{"WhollyRight", Surface::kWidth, 0, 1000},
                    OutsideCase{"WhollyBelow", 0, Surface::kHeight, 1000},
                    OutsideCase{"MaxXAtStart", 5, 0, 5},
                    OutsideCase{"MaxXNegative", -3, 0, -1},
                    OutsideCase{"MaxXLowest", 0, 0, kMin},
                    OutsideCase{"XLowest", kMin, 0, kMax},
                    OutsideCase{"XHighest", kMax, 0, kMax},
                    OutsideCase{"YLowest", 0, kMin, kMax},
                    OutsideCase{"YHighest", 0, kMax, kMax},
                    OutsideCase{"AllHighest", kMax, kMax, kMax}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Font, TransparentBackgroundKeepsEveryPixelThatIsNotInk) {
  constexpr int32_t width = 64, height = 24;
  std::vector<uint32_t> pixels(size_t(width) * height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
  const auto before = pixels;
  drawText({pixels, width, height}, 3, 2, width, "0%ok", kInk, kTransparent);
  size_t ink = 0;
  for (size_t i = 0; i < pixels.size(); ++i) {
    if (pixels[i] == kInk) {
      ++ink;
    } else {
      ASSERT_EQ(pixels[i], before[i]) << "pixel " << i;
    }
  }
  EXPECT_GT(ink, 0u);
}

TEST(Font, OpaqueBackgroundFillsTheCellsAndNothingElse) {
  constexpr int32_t width = 80, height = 30;
  for (const uint32_t background : {kCellFill, 0x01000000u}) {
    std::vector<uint32_t> pixels(size_t(width) * height, kPaper);
    const int32_t x0 = 5, y0 = 4;
    drawText({pixels, width, height}, x0, y0, width, "Hi 5", kInk, background);
    size_t ink = 0;
    for (int32_t y = 0; y < height; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        const uint32_t pixel = pixels[size_t(y) * width + size_t(x)];
        const bool inCells = x >= x0 && x < x0 + textWidth("Hi 5") && y >= y0 && y < y0 + kFontCellHeight;
        if (!inCells) {
          ASSERT_EQ(pixel, kPaper) << "outside the cells at " << x << "," << y;
        } else {
          ASSERT_TRUE(pixel == kInk || pixel == background) << "cell pixel left as it was at " << x << "," << y;
          ink += pixel == kInk;
        }
      }
    }
    EXPECT_GT(ink, 0u);
  }
}

TEST(Font, CanvasWithFewerPixelsThanItsSizeIsNotOverrun) {
  std::vector<uint32_t> buffer(size_t(40) * 30, kGuard);
  std::fill(buffer.begin(), buffer.begin() + 40 * 5, kPaper);
  drawText({std::span(buffer).first(40 * 5), 40, 30}, 0, 0, 40, "Wg", kInk, kCellFill);
  EXPECT_TRUE(std::all_of(buffer.begin() + 40 * 5, buffer.end(), [](uint32_t p) { return p == kGuard; }));
  EXPECT_GT(std::count(buffer.begin(), buffer.begin() + 40 * 5, kCellFill), 0);
}

}  // namespace
}  // namespace tapsim
