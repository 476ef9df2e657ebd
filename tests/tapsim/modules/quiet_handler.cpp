// An event handler that sets the quit flag on the quit key and acts on nothing else.
#include "frame/tap.h"

extern "C" {

int32_t quitSeen = 0;

uint32_t TAP_EventHandler(uint32_t event, uint32_t param1, uint32_t) {
  if ((event & TAP_EVENT_MASK) != TAP_EVENT_KEY) return event & TAP_EVENT_MASK;
  if (param1 != TAP_KEY_QUIT) return TAP_EVENT_KEY;
  quitSeen = 1;
  return 0;
}

}  // extern "C"
