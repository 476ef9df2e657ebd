// A start-up entry that faults before it reports anything.
#include "frame/tap.h"

#include "fault_address.h"

extern "C" __attribute__((visibility("protected"))) int32_t __TAP_Init_(TapEntryPoints*) {
  return static_cast<int32_t>(*faultingWord());  // frame 0
}
