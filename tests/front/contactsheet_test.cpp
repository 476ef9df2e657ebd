#include "front/contactsheet.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "front/png.h"
#include "temp_dir.h"

namespace tapsim {
namespace {

constexpr int32_t kFrameWidth = 720;
constexpr int32_t kFrameHeight = 576;

std::vector<uint32_t> noiseFrame(uint32_t seed) {
  std::vector<uint32_t> pixels(size_t(kFrameWidth) * kFrameHeight);
  uint32_t state = seed * 2654435761u + 1;
  for (uint32_t& pixel : pixels) {
    state = state * 1664525u + 1013904223u;
    pixel = state ^ (state >> 15);
  }
  return pixels;
}

ContactSheet sheetOf(size_t count) {
  ContactSheet sheet;
  for (size_t i = 0; i < count; ++i) EXPECT_TRUE(sheet.add(noiseFrame(uint32_t(i))));
  return sheet;
}

uint32_t pixelAt(const Image& image, int64_t x, int64_t y) { return image.argb[size_t(y) * size_t(image.width) + size_t(x)]; }

class ContactSheetSize : public testing::TestWithParam<size_t> {};

TEST_P(ContactSheetSize, GridHasUpToSixColumnsAndAsManyRowsAsNeeded) {
  const size_t count = GetParam();
  const ContactSheet sheet = sheetOf(count);
  const int64_t columns = std::min<int64_t>(int64_t(count), 6);
  const int64_t rows = (int64_t(count) + 5) / 6;
  const int64_t tileWidth = kFrameWidth / 4, tileHeight = kFrameHeight / 4 + ContactSheet::kLabelHeight;
  EXPECT_EQ(sheet.frameCount(), count);
  EXPECT_EQ(sheet.width(), columns * (tileWidth + ContactSheet::kGap) + ContactSheet::kGap);
  EXPECT_EQ(sheet.height(), rows * (tileHeight + ContactSheet::kGap) + ContactSheet::kGap);
  const Image image = sheet.render();
  EXPECT_EQ(image.width, sheet.width());
  EXPECT_EQ(image.height, sheet.height());
  EXPECT_EQ(image.argb.size(), size_t(image.width) * size_t(image.height));
}

INSTANTIATE_TEST_SUITE_P(FrameCounts, ContactSheetSize, testing::Values(1, 2, 5, 6, 7, 12, 13, 40));

TEST(ContactSheet, ThumbnailPixelIsTheRoundedMeanOfItsSourceBlock) {
  const ContactSheet sheet = sheetOf(8);
  const Image image = sheet.render();
  for (const size_t index : {size_t{0}, size_t{4}, size_t{7}}) {
    const auto frame = noiseFrame(uint32_t(index));
    const auto origin = sheet.thumbnailOrigin(index);
    for (const auto& [tx, ty] : {std::pair{0, 0}, {179, 143}, {17, 91}, {100, 3}}) {
      uint32_t sums[3] = {};
      for (int32_t y = ty * 4; y < ty * 4 + 4; ++y) {
        for (int32_t x = tx * 4; x < tx * 4 + 4; ++x) {
          const uint32_t pixel = frame[size_t(y) * kFrameWidth + size_t(x)];
          for (int channel = 0; channel < 3; ++channel) sums[channel] += pixel >> (16 - 8 * channel) & 0xFF;
        }
      }
      uint32_t expected = 0xFF000000u;
      for (int channel = 0; channel < 3; ++channel) expected |= (sums[channel] + 8) / 16 << (16 - 8 * channel);
      EXPECT_EQ(pixelAt(image, origin.x + tx, origin.y + ty), expected)
          << "frame " << index << " thumbnail pixel " << tx << "," << ty;
    }
  }
}

TEST(ContactSheet, ThumbnailsDoNotOverlapAndLieInsideTheSheet) {
  const ContactSheet sheet = sheetOf(14);
  for (size_t a = 0; a < sheet.frameCount(); ++a) {
    const auto p = sheet.thumbnailOrigin(a);
    EXPECT_GE(p.x, 1);
    EXPECT_GE(p.y, 1);
    EXPECT_LE(p.x + sheet.thumbnailWidth() + 1, sheet.width());
    EXPECT_LE(p.y + sheet.thumbnailHeight() + ContactSheet::kLabelHeight, sheet.height());
    for (size_t b = a + 1; b < sheet.frameCount(); ++b) {
      const auto q = sheet.thumbnailOrigin(b);
      const bool apart = q.x >= p.x + sheet.thumbnailWidth() || p.x >= q.x + sheet.thumbnailWidth() ||
                         q.y >= p.y + sheet.thumbnailHeight() + ContactSheet::kLabelHeight ||
                         p.y >= q.y + sheet.thumbnailHeight() + ContactSheet::kLabelHeight;
      EXPECT_TRUE(apart) << a << " and " << b;
    }
  }
}

// Does the strip under thumbnail `index` show `label` in the label colour, whole?
bool stripShows(const ContactSheet& sheet, const Image& image, size_t index, const std::string& label) {
  const int32_t width = textWidth(label);
  std::vector<uint32_t> glyphs(size_t(width) * kFontCellHeight, 0);
  drawText({glyphs, width, kFontCellHeight}, 0, 0, width, label, ContactSheet::kLabelColour, 0);
  const auto origin = sheet.thumbnailOrigin(index);
  const int32_t top = origin.y + sheet.thumbnailHeight();
  for (int32_t dy = 0; dy + kFontCellHeight <= ContactSheet::kLabelHeight; ++dy) {
    for (int32_t dx = 0; dx + width <= sheet.thumbnailWidth(); ++dx) {
      bool same = true;
      for (int32_t y = 0; y < kFontCellHeight && same; ++y) {
        for (int32_t x = 0; x < width && same; ++x) {
          const bool ink = glyphs[size_t(y) * size_t(width) + size_t(x)] != 0;
          same = ink == (pixelAt(image, origin.x + dx + x, top + dy + y) == ContactSheet::kLabelColour);
        }
      }
      if (same) return true;
    }
  }
  return false;
}

TEST(ContactSheet, EachThumbnailIsNumberedFromOne) {
  const ContactSheet sheet = sheetOf(13);
  const Image image = sheet.render();
  for (size_t index = 0; index < sheet.frameCount(); ++index) {
    EXPECT_TRUE(stripShows(sheet, image, index, std::to_string(index + 1))) << "thumbnail " << index;
  }
  EXPECT_FALSE(stripShows(sheet, image, 0, "2"));
}

TEST(ContactSheet, FrameOfAnotherSizeIsRefused) {
  ContactSheet sheet;
  EXPECT_FALSE(sheet.add(std::vector<uint32_t>(size_t(kFrameWidth) * kFrameHeight - 1)));
  EXPECT_FALSE(sheet.add({}));
  EXPECT_EQ(sheet.frameCount(), 0u);
  ContactSheet small(8, 4);
  EXPECT_TRUE(small.add(std::vector<uint32_t>(32, 0xFF102030)));
  EXPECT_EQ(small.thumbnailWidth(), 2);
  EXPECT_EQ(small.thumbnailHeight(), 1);
}

TEST(ContactSheet, WrittenFileShowsTheRenderedSheet) {
  TempDir dir;
  const ContactSheet sheet = sheetOf(14);
  std::string error;
  ASSERT_TRUE(sheet.write(dir / "sheet.png", error)) << error;
  const auto image = readPng(dir / "sheet.png", error);
  ASSERT_TRUE(image) << error;
  const Image rendered = sheet.render();
  EXPECT_EQ(image->width, rendered.width);
  EXPECT_EQ(image->height, rendered.height);
  EXPECT_TRUE(image->argb == rendered.argb);
}

TEST(ContactSheet, HundredsOfFramesMakeOneFile) {
  TempDir dir;
  ContactSheet sheet;
  auto frame = noiseFrame(1);
  for (uint32_t i = 0; i < 150; ++i) {
    frame[i] = 0xFFFFFFFF;
    ASSERT_TRUE(sheet.add(frame));
  }
  std::string error;
  ASSERT_TRUE(sheet.write(dir / "sheet.png", error)) << error;
  const auto image = readPng(dir / "sheet.png", error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->width, sheet.width());
  EXPECT_EQ(image->height, sheet.height());
  EXPECT_TRUE(stripShows(sheet, *image, 149, "150"));
}

TEST(ContactSheet, ALongRunKeepsEveryStrideThFrameWithinTheBound) {
  ContactSheet sheet(kFrameWidth, kFrameHeight, 4);
  for (uint32_t i = 0; i < 10; ++i) ASSERT_TRUE(sheet.add(noiseFrame(i)));
  EXPECT_EQ(sheet.framesSeen(), 10u);
  EXPECT_EQ(sheet.stride(), 4u);
  ASSERT_EQ(sheet.frameCount(), 3u);
  const Image image = sheet.render();
  for (const auto& [index, label] : {std::pair{0, "1"}, std::pair{1, "5"}, std::pair{2, "9"}})
    EXPECT_TRUE(stripShows(sheet, image, size_t(index), label)) << "thumbnail " << index;
}

TEST(ContactSheet, SheetWithoutFramesIsNotWritten) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(ContactSheet().write(dir / "sheet.png", error));
  EXPECT_NE(error.find("no frames"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir / "sheet.png"));
  EXPECT_TRUE(ContactSheet().render().argb.empty());
}

}  // namespace
}  // namespace tapsim
