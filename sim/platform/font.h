#pragma once
#include <cstdint>
#include <string_view>

#include "canvas.h"

namespace tapsim {

// The compiled-in font: glyphs designed on a 6 x 10 grid, drawn at twice that
// size so that a line fits the 21-pixel rows of the level-step page.
inline constexpr int32_t kFontScale = 2;
inline constexpr int32_t kFontCellWidth = 6 * kFontScale;    // advance per byte, in pixels
inline constexpr int32_t kFontCellHeight = 10 * kFontScale;  // height of a line, in pixels

// Draws text with its top-left corner at (x, y), one cell per byte. Nothing is
// written outside the canvas or at a column >= maxX. A background whose alpha
// byte is 0 leaves the pixels behind the glyphs as they were; any other fills
// the cells. Bytes outside 0x20..0x7E are drawn as a hollow box.
void drawText(Canvas canvas, int64_t x, int64_t y, int64_t maxX, std::string_view text,
              uint32_t foreground, uint32_t background);

// Width in pixels of the cells that drawText would use, saturating at INT32_MAX.
int32_t textWidth(std::string_view text);

}  // namespace tapsim
