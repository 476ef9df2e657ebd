// A main function that writes to an address no module owns.
#include "frame/tap.h"

#include "fault_address.h"

extern "C" int32_t TAP_Main(void) {
  *faultingWord() = 1;  // frame 0
  return 0;
}
