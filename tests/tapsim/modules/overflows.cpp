// A main function that recurses without end until the stack runs out. Each
// call keeps a word on its own stack after the next returns, so the
// recursion stays a recursion at any optimisation.
#include "frame/tap.h"

// The endless recursion is this module's point.
#pragma GCC diagnostic ignored "-Winfinite-recursion"

extern "C" {

__attribute__((noinline)) uint32_t Descend(uint32_t depth) {  // frame 0
  volatile uint32_t kept[16];  // frame 0
  kept[depth % 16] = depth;  // frame 0
  return Descend(depth + 1) + kept[0];  // frame 0, frame 1
}  // frame 0

int32_t TAP_Main(void) { return static_cast<int32_t>(Descend(0)); }

}  // extern "C"
