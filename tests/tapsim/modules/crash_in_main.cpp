// A main function that writes to an address no module owns.
#include "frame/tap.h"

#include "fault_address.h"

extern "C" int32_t TAP_Main(void) {
  *reinterpret_cast<volatile uint32_t*>(kFaultAddress) = 1;
  return 0;
}
