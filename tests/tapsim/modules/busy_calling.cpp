// A main function that keeps calling the platform but never gives it its turn.
#include "frame/tap.h"

extern "C" int32_t TAP_Main(void) {
  volatile uint32_t sum = 0;
  for (;;) sum = sum + TAP_GetSystemId();
  return 0;
}
