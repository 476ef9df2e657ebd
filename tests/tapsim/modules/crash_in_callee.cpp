// A main function whose callee's callee writes to an address no module owns.
// The crash report names each of the three; the comments mark the lines it names.
#include "frame/tap.h"

#include "fault_address.h"

extern "C" {

__attribute__((noinline)) void Inner(void) {
  *faultingWord() = 1;  // frame 0
}

__attribute__((noinline)) void Outer(void) {
  Inner();  // frame 1
}

int32_t TAP_Main(void) {
  Outer();  // frame 2
  return 0;
}

}  // extern "C"
