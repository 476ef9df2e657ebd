// A main function that keeps calling the platform but never gives it its turn.
// Each call costs the host more than the board, so the calls never run out.
#include "frame/tap.h"

extern "C" int32_t TAP_Main(void) {
  const TapRegion region = TAP_Osd_Create(0, 0, TAP_SCREEN_WIDTH, TAP_SCREEN_HEIGHT, 0, 0);
  for (uint32_t colour = 0;; ++colour) TAP_Osd_FillBox(region, 0, 0, TAP_SCREEN_WIDTH, TAP_SCREEN_HEIGHT / 4, colour);
  return 0;
}
