// A main function that gives up through the C library's abort(), one call down.
#include "frame/tap.h"

extern "C" {

void abort(void);

__attribute__((noinline)) void GiveUp(void) {
  abort();  // frame 0
  // Keeps the call a call rather than a jump on every compiler, so GiveUp is on the stack.
  __asm__ volatile("");
}

int32_t TAP_Main(void) {
  GiveUp();  // frame 1
  return 0;
}

}  // extern "C"
