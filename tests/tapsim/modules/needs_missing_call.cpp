// A main function that calls a platform word no platform library has.
#include "frame/tap.h"

extern "C" {

extern void (*TAP_Not_A_Platform_Call)(void);

int32_t TAP_Main(void) {
  TAP_Not_A_Platform_Call();
  return 0;
}

}  // extern "C"
