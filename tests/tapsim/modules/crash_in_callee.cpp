// A main function whose callee's callee writes to an address no module owns.
// The crash report names each of the three; the comments mark the lines it
// names. Each caller has work left after its call, so no call becomes a jump.
#include "frame/tap.h"

#include "fault_address.h"

extern "C" {

__attribute__((noinline)) void Inner(void) {
  *faultingWord() = 1;  // frame 0
}

__attribute__((noinline)) int32_t Outer(void) {
  Inner();  // frame 1
  return 1;
}

int32_t TAP_Main(void) {
  return Outer() - 1;  // frame 2
}

}  // extern "C"
