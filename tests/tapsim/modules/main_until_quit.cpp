// A main function that only waits for the quit key.
#include "frame/tap.h"

extern "C" {

extern int32_t quitSeen;

int32_t TAP_Main(void) {
  while (!quitSeen) TAP_SystemProc();  // frame 1 when the handler crashes
  return 0;
}

}  // extern "C"
