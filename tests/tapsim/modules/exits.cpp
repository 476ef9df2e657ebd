// A main function that ends the whole process, the C library's way.
#include "frame/tap.h"
#include "libc_calls.h"

extern "C" int32_t TAP_Main(void) {
  TAP_SystemProc();
#ifdef EXIT_PLAIN
  exit(7);
#else
  _exit(3);
#endif
  return 0;
}
