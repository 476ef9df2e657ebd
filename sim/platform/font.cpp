#include "font.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>

namespace tapsim {
namespace {

constexpr int kGlyphColumns = 5;  // of the 6 design columns; the sixth is spacing
constexpr int kGlyphRows = 9;     // of the 10 design rows; the first is spacing
constexpr int kCapRows = 7;       // rows above the baseline; the last two hold descenders

struct GlyphArt {
  char code;
  const char* rows[kGlyphRows];  // '#' ink, '.' paper; rows left out are paper
};

// clang-format off
constexpr GlyphArt kArt[] = {
  {' ',  {}},
  {'!',  {"..#..", "..#..", "..#..", "..#..", "..#..", ".....", "..#.."}},
  {'"',  {".#.#.", ".#.#.", ".#.#."}},
  {'#',  {".#.#.", ".#.#.", "#####", ".#.#.", "#####", ".#.#.", ".#.#."}},
  {'$',  {"..#..", ".####", "#.#..", ".###.", "..#.#", "####.", "..#.."}},
  {'%',  {"##...", "##..#", "...#.", "..#..", ".#...", "#..##", "...##"}},
  {'&',  {".##..", "#..#.", "#.#..", ".#...", "#.#.#", "#..#.", ".##.#"}},
  {'\'', {"..#..", "..#..", ".#..."}},
  {'(',  {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#."}},
  {')',  {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#..."}},
  {'*',  {".....", "..#..", "#.#.#", ".###.", "#.#.#", "..#..", "....."}},
  {'+',  {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."}},
  {',',  {".....", ".....", ".....", ".....", ".....", ".##..", ".##..", "..#..", ".#..."}},
  {'-',  {".....", ".....", ".....", "#####"}},
  {'.',  {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
  {'/',  {".....", "....#", "...#.", "..#..", ".#...", "#....", "....."}},
  {'0',  {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
  {'1',  {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
  {'2',  {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
  {'3',  {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
  {'4',  {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
  {'5',  {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
  {'6',  {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
  {'7',  {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
  {'8',  {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
  {'9',  {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
  {':',  {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
  {';',  {".....", ".##..", ".##..", ".....", ".##..", ".##..", "..#..", ".#..."}},
  {'<',  {"...#.", "..#..", ".#...", "#....", ".#...", "..#..", "...#."}},
  {'=',  {".....", ".....", "#####", ".....", "#####", ".....", "....."}},
  {'>',  {".#...", "..#..", "...#.", "....#", "...#.", "..#..", ".#..."}},
  {'?',  {".###.", "#...#", "....#", "...#.", "..#..", ".....", "..#.."}},
  {'@',  {".###.", "#...#", "....#", ".##.#", "#.#.#", "#.#.#", ".###."}},
  {'A',  {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
  {'B',  {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
  {'C',  {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
  {'D',  {"###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."}},
  {'E',  {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
  {'F',  {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
  {'G',  {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
  {'H',  {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
  {'I',  {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
  {'J',  {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
  {'K',  {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
  {'L',  {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
  {'M',  {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
  {'N',  {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
  {'O',  {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
  {'P',  {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
  {'Q',  {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
  {'R',  {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
  {'S',  {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
  {'T',  {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
  {'U',  {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
  {'V',  {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
  {'W',  {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
  {'X',  {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
  {'Y',  {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
  {'Z',  {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
  {'[',  {".###.", ".#...", ".#...", ".#...", ".#...", ".#...", ".###."}},
  {'\\', {".....", "#....", ".#...", "..#..", "...#.", "....#", "....."}},
  {']',  {".###.", "...#.", "...#.", "...#.", "...#.", "...#.", ".###."}},
  {'^',  {"..#..", ".#.#.", "#...#"}},
  {'_',  {".....", ".....", ".....", ".....", ".....", ".....", ".....", "#####"}},
  {'`',  {".#...", "..#..", "...#."}},
  {'a',  {".....", ".....", ".###.", "....#", ".####", "#...#", ".####"}},
  {'b',  {"#....", "#....", "#.##.", "##..#", "#...#", "#...#", "####."}},
  {'c',  {".....", ".....", ".###.", "#....", "#....", "#...#", ".###."}},
  {'d',  {"....#", "....#", ".##.#", "#..##", "#...#", "#...#", ".####"}},
  {'e',  {".....", ".....", ".###.", "#...#", "#####", "#....", ".###."}},
  {'f',  {"..##.", ".#..#", ".#...", "###..", ".#...", ".#...", ".#..."}},
  {'g',  {".....", ".....", ".####", "#...#", "#...#", "#...#", ".####", "....#", ".###."}},
  {'h',  {"#....", "#....", "#.##.", "##..#", "#...#", "#...#", "#...#"}},
  {'i',  {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."}},
  {'j',  {"...#.", ".....", "..##.", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
  {'k',  {"#....", "#....", "#..#.", "#.#..", "##...", "#.#..", "#..#."}},
  {'l',  {".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
  {'m',  {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"}},
  {'n',  {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"}},
  {'o',  {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."}},
  {'p',  {".....", ".....", "####.", "#...#", "#...#", "#...#", "####.", "#....", "#...."}},
  {'q',  {".....", ".....", ".####", "#...#", "#...#", "#...#", ".####", "....#", "....#"}},
  {'r',  {".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."}},
  {'s',  {".....", ".....", ".####", "#....", ".###.", "....#", "####."}},
  {'t',  {".#...", ".#...", "###..", ".#...", ".#...", ".#..#", "..##."}},
  {'u',  {".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#"}},
  {'v',  {".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
  {'w',  {".....", ".....", "#...#", "#...#", "#.#.#", "#.#.#", ".#.#."}},
  {'x',  {".....", ".....", "#...#", ".#.#.", "..#..", ".#.#.", "#...#"}},
  {'y',  {".....", ".....", "#...#", "#...#", "#...#", "#...#", ".####", "....#", ".###."}},
  {'z',  {".....", ".....", "#####", "...#.", "..#..", ".#...", "#####"}},
  {'{',  {"...#.", "..#..", "..#..", ".#...", "..#..", "..#..", "...#."}},
  {'|',  {"..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
  {'}',  {".#...", "..#..", "..#..", "...#.", "..#..", "..#..", ".#..."}},
  {'~',  {".....", ".....", ".#...", "#.#.#", "...#.", ".....", "....."}},
};
// clang-format on

constexpr GlyphArt kPlaceholderArt = {
    0, {"#####", "#...#", "#...#", "#...#", "#...#", "#...#", "#####"}};

constexpr char kFirstPrintable = 0x20;
constexpr char kLastPrintable = 0x7E;
constexpr size_t kPrintableCount = kLastPrintable - kFirstPrintable + 1;
static_assert(std::size(kArt) == kPrintableCount, "one glyph per printable byte");

using Glyph = std::array<uint8_t, kGlyphRows>;  // bit 4 is the leftmost column

// A malformed row stops the build: throwing is not allowed in a constant expression.
constexpr uint8_t packRow(const char* row) {
  if (row == nullptr) return 0;
  uint8_t bits = 0;
  for (int column = 0; column < kGlyphColumns; ++column) {
    if (row[column] != '#' && row[column] != '.') throw "glyph rows are five of '#' or '.'";
    bits = static_cast<uint8_t>(bits << 1 | (row[column] == '#' ? 1 : 0));
  }
  if (row[kGlyphColumns] != '\0') throw "glyph rows are five of '#' or '.'";
  return bits;
}

constexpr Glyph pack(const GlyphArt& art) {
  Glyph glyph{};
  for (int row = 0; row < kGlyphRows; ++row) glyph[row] = packRow(art.rows[row]);
  return glyph;
}

constexpr std::array<Glyph, kPrintableCount> packAll() {
  std::array<Glyph, kPrintableCount> glyphs{};
  for (size_t i = 0; i < kPrintableCount; ++i) {
    if (kArt[i].code != static_cast<char>(kFirstPrintable + i)) throw "glyphs out of order";
    glyphs[i] = pack(kArt[i]);
  }
  return glyphs;
}

constexpr std::array<Glyph, kPrintableCount> kGlyphs = packAll();
constexpr Glyph kPlaceholder = pack(kPlaceholderArt);
static_assert(kGlyphRows == kCapRows + 2);

const Glyph& glyphFor(unsigned char byte) {
  if (byte < kFirstPrintable || byte > kLastPrintable) return kPlaceholder;
  return kGlyphs[byte - kFirstPrintable];
}

bool inkAt(const Glyph& glyph, int32_t cellColumn, int32_t cellRow) {
  const int32_t designColumn = cellColumn / kFontScale;
  const int32_t designRow = cellRow / kFontScale - 1;
  if (designRow < 0 || designColumn >= kGlyphColumns) return false;
  return (glyph[designRow] >> (kGlyphColumns - 1 - designColumn) & 1) != 0;
}

struct Clip {
  int64_t right;   // first column not to write
  int64_t bottom;  // first row not to write
};

void drawCell(Canvas canvas, Clip clip, int64_t cellX, int64_t cellY, const Glyph& glyph,
              uint32_t foreground, uint32_t background) {
  const bool fillsBackground = (background >> 24) != 0;
  for (int32_t row = 0; row < kFontCellHeight; ++row) {
    const int64_t y = cellY + row;
    if (y < 0 || y >= clip.bottom) continue;
    for (int32_t column = 0; column < kFontCellWidth; ++column) {
      const int64_t x = cellX + column;
      if (x < 0 || x >= clip.right) continue;
      uint32_t& pixel = canvas.pixels[static_cast<size_t>(y * canvas.width + x)];
      if (inkAt(glyph, column, row)) {
        pixel = foreground;
      } else if (fillsBackground) {
        pixel = background;
      }
    }
  }
}

}  // namespace

void drawText(Canvas canvas, int64_t x, int64_t y, int64_t maxX, std::string_view text,
              uint32_t foreground, uint32_t background) {
  if (canvas.width <= 0 || canvas.height <= 0) return;
  // Never trust width x height beyond the pixels actually there.
  const int64_t rowsPresent = static_cast<int64_t>(canvas.pixels.size() / static_cast<size_t>(canvas.width));
  const Clip clip{std::min<int64_t>(maxX, canvas.width), std::min<int64_t>(canvas.height, rowsPresent)};
  if (y >= clip.bottom || y <= -kFontCellHeight) return;
  int64_t cellX = x;
  for (const char byte : text) {
    if (cellX >= clip.right) break;
    if (cellX > -kFontCellWidth) {
      drawCell(canvas, clip, cellX, y, glyphFor(static_cast<unsigned char>(byte)), foreground, background);
    }
    cellX += kFontCellWidth;
  }
}

int32_t textWidth(std::string_view text) {
  constexpr size_t kMaxCells = std::numeric_limits<int32_t>::max() / kFontCellWidth;
  if (text.size() > kMaxCells) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(text.size()) * kFontCellWidth;
}

}  // namespace tapsim
