// Where the crashing test modules fault: low enough that nothing is ever
// mapped there, distinctive enough to find in the simulator's report.
#pragma once
#include <stdint.h>

static const uintptr_t kFaultAddress = 0x4d0;

// Read through a volatile word, so the optimiser cannot see the address
// and turn the deliberate fault into a compile-time complaint.
static inline volatile uint32_t* faultingWord() {
  volatile uintptr_t address = kFaultAddress;
  return reinterpret_cast<volatile uint32_t*>(address);
}
