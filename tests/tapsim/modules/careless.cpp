// A main function that leaves a mess on purpose: two blocks never freed, one
// freed that the platform never gave out, the region left on screen and
// another channel started than the one it stopped.
#include "frame/tap.h"

extern "C" {

extern int32_t quitSeen;

int32_t TAP_Main(void) {
  int32_t first = 0, second = 0;
  TAP_Channel_GetCurrent(&first, &second);
  TAP_Channel_Stop(1);
  const TapRegion region = TAP_Osd_Create(0, 0, TAP_SCREEN_WIDTH, TAP_SCREEN_HEIGHT, 0, 0);
  TAP_Osd_FillBox(region, 0, 0, TAP_SCREEN_WIDTH, TAP_SCREEN_HEIGHT, 0xFF102030u);
  TAP_Osd_Sync();
  TAP_MemAlloc(100);
  TAP_MemAlloc(28);
  int32_t notABlock = 0;
  TAP_MemFree(&notABlock);
  while (!quitSeen) TAP_SystemProc();
  TAP_Channel_Start(1, first + 5, second + 5);
  return 0;
}

}  // extern "C"
