// A module built for MIPS32 release 2 (see CMakeLists.txt): swapping the bytes
// of a value known only at run time takes wsbh, which the receiver lacks.
#include "../../frame/tap.h"

extern "C" {

uint32_t SwapBytes(uint32_t value) { return __builtin_bswap32(value); }

int32_t TAP_Main(void) { return 0; }

uint32_t TAP_EventHandler(uint32_t event, uint32_t param1, uint32_t param2) {
  (void)param2;
  return event == 0 ? SwapBytes(param1) : event;
}

}  // extern "C"
