// A main function that loses its stack pointer, then writes through a bad
// pointer: a fault near the stack pointer, but no stack ran out.
#include "frame/tap.h"

extern "C" int32_t TAP_Main(void) {
#if defined(__x86_64__)
  __asm__ volatile("mov $0x2000, %%rsp\n\tmovl $1, 0x4d0" ::: "memory");  // frame 0
#elif defined(__mips__)
  __asm__ volatile("li $sp, 0x2000\n\tli $t0, 0x4d0\n\tsw $zero, 0($t0)" ::: "memory", "t0");  // frame 0
#endif
  return 0;
}
