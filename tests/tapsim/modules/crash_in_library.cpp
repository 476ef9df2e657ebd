// A main function that hands the C library a pointer no module owns; the
// fault is in the library's code, the report names the call in the module.
// The length is used after the call, so that the call is not a jump.
#include "frame/tap.h"

#include "fault_address.h"

extern "C" {

unsigned long strlen(const char* text);

int32_t TAP_Main(void) {
  const volatile uintptr_t text = kFaultAddress;
  const unsigned long length = strlen(reinterpret_cast<const char*>(text));  // frame 0
  return length == 0 ? 0 : 1;
}

}  // extern "C"
