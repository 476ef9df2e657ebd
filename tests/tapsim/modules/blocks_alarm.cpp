// A main function that blocks every signal it can and then never again calls the platform.
#include "frame/tap.h"
#include "libc_calls.h"

extern "C" int32_t TAP_Main(void) {
  uint64_t all[16];
  for (auto& word : all) word = ~uint64_t{0};
  sigprocmask(0 /* SIG_BLOCK */, all, nullptr);
  volatile uint32_t turns = 0;
  for (;;) turns = turns + 1;
  return 0;
}
