// Three pages on the on-screen display: next and previous turn the page, exit ends.
#include "tap.h"
#include "taplib.h"

namespace {

enum : uint32_t { PAGE_COUNT = 3, TEXT_LEFT = 60, TEXT_RIGHT = 660 };

// One background per page, as ARGB: alpha, red, green, blue.
const TapColour kPageColours[PAGE_COUNT] = {0xFF203080, 0xFF206040, 0xFF803020};

uint32_t page = 0;
int32_t done = 0;
TapRegion region = 0;

void text(uint32_t y, const char* line, TapColour colour) {
  TAP_Osd_PutS(region, TEXT_LEFT, y, TEXT_RIGHT, line, colour, 0, 0, 0, 0, 0);
}

// Nothing shows until the screen is synced.
void DrawPage(void) {
  char title[32];
  TAP_SPrint(title, "Page %d of %d", static_cast<int32_t>(page + 1), static_cast<int32_t>(PAGE_COUNT));
  TAP_Osd_FillBox(region, 0, 0, TAP_SCREEN_WIDTH, TAP_SCREEN_HEIGHT, kPageColours[page]);
  text(60, title, 0xFFFFFFFF);
  text(100, "Next and previous turn the page, exit ends.", 0xFFE0E0E0);
  TAP_Osd_Sync();
}

}  // namespace

extern "C" {

int32_t TAP_Main(void) {
  // On models whose remote sends other codes the support library translates them.
  KeyTranslate(1, TAP_EventHandler);
  region = TAP_Osd_Create(0, 0, TAP_SCREEN_WIDTH, TAP_SCREEN_HEIGHT, 0, 0);
  DrawPage();
  while (done == 0) TAP_SystemProc();
  TAP_Osd_Delete(region);
  return 0;
}

// Called by the firmware for every event; a key the module does not use goes back.
uint32_t TAP_EventHandler(uint32_t event, uint32_t param1, uint32_t /*param2*/) {
  const uint32_t code = event & TAP_EVENT_MASK;
  if (code != TAP_EVENT_KEY) return code;
  switch (param1) {
    case TAP_KEY_QUIT:
      done = 1;
      return 0;
    case TAP_KEY_NEXT_PAGE:
      page = (page + 1) % PAGE_COUNT;
      DrawPage();
      return 0;
    case TAP_KEY_PREVIOUS_PAGE:
      page = (page + PAGE_COUNT - 1) % PAGE_COUNT;
      DrawPage();
      return 0;
    default:
      return TAP_EVENT_KEY;
  }
}

}  // extern "C"
