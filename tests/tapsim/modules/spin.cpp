// A main function that never again gives the platform its turn.
#include "frame/tap.h"

extern "C" int32_t TAP_Main(void) {
  volatile uint32_t turns = 0;
  for (;;) turns = turns + 1;
  return 0;
}
