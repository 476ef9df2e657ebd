// A module that calls an entry word no platform library defines: the
// simulator must refuse it before it runs rather than crash on the call.
#include "../../frame/tap.h"

extern "C" {

extern void (*TAP_Nonexistent_Call)(void);

int32_t TAP_Main(void) {
  TAP_Nonexistent_Call();
  return 0;
}

uint32_t TAP_EventHandler(uint32_t event, uint32_t param1, uint32_t param2) {
  (void)param1;
  (void)param2;
  return event;
}

}  // extern "C"
