// Quarnel: full-screen test patterns on the OSD, paged with the remote.
#include "../frame/tap.h"
#include "../lib/taplib.h"

extern "C" {

uint16_t pagenumber = 1;
int32_t _exitFlag = 0;
TapRegion rgn = 0;
uint16_t windownumber = 0;

}  // extern "C"

namespace {

enum : uint16_t { PAGE_COUNT = 21, FIRST_FIELD_PAGE = 4, FIRST_LABELLED_PAGE = 11 };
enum : uint32_t { TEXT_MAX_X = 400, TEXT_BACKGROUND = 0 };

constexpr TapColour grey(uint32_t v) { return 0xFF000000u | v << 16 | v << 8 | v; }

void box(uint32_t x, uint32_t y, uint32_t width, uint32_t height, TapColour colour) {
  TAP_Osd_FillBox(rgn, x, y, width, height, colour);
}

void text(uint32_t x, uint32_t y, const char* s, TapColour colour) {
  TAP_Osd_PutS(rgn, x, y, TEXT_MAX_X, s, colour, TEXT_BACKGROUND, 0, 0, 0, 0);
}

// Page 1: seven ramps, one per row, each level a two-pixel column.
int32_t ColourRamp(void) {
  static const struct {
    uint32_t y;
    uint32_t channels;  // which of red, green and blue carry the level
  } rows[] = {
      {25, 0xFFFFFF},  /* grey */
      {100, 0xFF0000}, /* red */
      {175, 0x00FF00}, /* green */
      {250, 0x0000FF}, /* blue */
      {325, 0xFFFF00}, /* yellow */
      {400, 0xFF00FF}, /* magenta */
      {475, 0x00FFFF}, /* cyan */
  };
  box(0, 0, TAP_SCREEN_WIDTH, TAP_SCREEN_HEIGHT, 0xFF000000);
  for (uint16_t a = 1; a <= 255; ++a) {
    const uint32_t x = 2u * a + 102u;
    for (const auto& row : rows) box(x, row.y, 2, 65, 0xFF000000u | (grey(a) & row.channels));
  }
  return 1;
}

// Page 2: black and white level steps with their values written on them.
void LevelSteps(void) {
  char number[16];
  box(0, 0, 720, 288, 0xFF101010);
  box(0, 288, 720, 288, 0xFFEEEEEE);
  box(80, 0, 4, 288, 0xFFFFFFFF);
  box(80, 288, 4, 288, 0xFF000000);
  box(640, 0, 4, 288, 0xFFFFFFFF);
  box(640, 288, 4, 288, 0xFF000000);
  for (uint32_t i = 0; i <= 4; ++i) {
    const uint32_t dark = (255u * i) / 31u;
    const uint32_t light = (255u * (31u - i)) / 31u;
    box(300, 90 + 21 * i, 120, 21, grey(dark));
    box(300, 378 + 21 * i, 120, 21, grey(light));
    TAP_SPrint(number, "%i", static_cast<int32_t>(dark));
    text(310, 90 + 21 * i, number, 0xFF323232);
    TAP_SPrint(number, "%i", static_cast<int32_t>(light));
    text(310, 378 + 21 * i, number, 0xFFCECECE);
  }
}

// Page 3: colour columns.
void ColourColumns(void) {
  box(0, 0, 240, 288, 0xFF0000FF);
  box(0, 288, 240, 288, 0xFF00FFFF);
  box(240, 0, 240, 576, 0xFFFF00FF);
  box(480, 0, 240, 288, 0xFF00FFFF);
  box(480, 288, 240, 288, 0xFF0000FF);
}

// Pages 4 to 21: one colour over the whole screen; the grey levels carry a label.
void ColourField(uint16_t page) {
  static const TapColour fields[] = {
      0xFFFF0000, /* 4 red */      0xFF00FF00, /* 5 green */  0xFF0000FF, /* 6 blue */
      0xFFFFFF00, /* 7 yellow */   0xFF00FFFF, /* 8 cyan */   0xFFFF00FF, /* 9 magenta */
      0xFFFFFFFF, /* 10 white */   0xFF101010, /* 11 0% */    0xFF1A1A1A, /* 12 10% */
      0xFF333333, /* 13 20% */     0xFF4D4D4D, /* 14 30% */   0xFF666666, /* 15 40% */
      0xFF808080, /* 16 50% */     0xFF999999, /* 17 60% */   0xFFB3B3B3, /* 18 70% */
      0xFFCCCCCC, /* 19 80% */     0xFFE6E6E6, /* 20 90% */   0xFFFFFFFF, /* 21 100% */
  };
  char label[8];
  windownumber = static_cast<uint16_t>(page - 3);
  if (page >= FIRST_LABELLED_PAGE)
    TAP_SPrint(label, "%i%%", static_cast<int32_t>(10 * (page - FIRST_LABELLED_PAGE)));
  box(0, 0, TAP_SCREEN_WIDTH, TAP_SCREEN_HEIGHT, fields[page - FIRST_FIELD_PAGE]);
  if (windownumber >= 8) text(50, 50, label, 0xFFFF0000);
}

int32_t OpenPage(void) {
  if (pagenumber > PAGE_COUNT)
    pagenumber = 1;
  else if (pagenumber == 0)
    pagenumber = PAGE_COUNT;
  switch (pagenumber) {
    case 1: ColourRamp(); break;
    case 2: LevelSteps(); break;
    case 3: ColourColumns(); break;
    default: ColourField(pagenumber); break;
  }
  TAP_Osd_Sync();
  return 1;
}

}  // namespace

extern "C" {

int32_t TAP_Main(void) {
  int32_t first = 0, second = 0;
  KeyTranslate(1, TAP_EventHandler);
  pagenumber = 1;
  TAP_Channel_GetCurrent(&first, &second);
  TAP_Channel_Stop(1);
  rgn = TAP_Osd_Create(0, 0, TAP_SCREEN_WIDTH, TAP_SCREEN_HEIGHT, 0, 0);
  ColourRamp();
  TAP_Osd_Sync();
  while (_exitFlag == 0) TAP_SystemProc();
  TAP_Osd_Delete(rgn);
  TAP_Channel_Start(1, first, second);
  return 0;
}

uint32_t TAP_EventHandler(uint32_t event, uint32_t param1, uint32_t /*param2*/) {
  const uint32_t code = event & TAP_EVENT_MASK;
  if (code != TAP_EVENT_KEY) return code;
  switch (param1) {
    case TAP_KEY_QUIT:
      _exitFlag = 1;
      return 0;
    case TAP_KEY_NEXT_PAGE:
      pagenumber = static_cast<uint16_t>(pagenumber + 1);
      OpenPage();
      break;
    case TAP_KEY_PREVIOUS_PAGE:
      pagenumber = static_cast<uint16_t>(pagenumber - 1);
      OpenPage();
      break;
    default:
      break;
  }
  return TAP_EVENT_KEY;
}

}  // extern "C"
