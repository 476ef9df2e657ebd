// Where the crashing test modules fault: low enough that nothing is ever
// mapped there, distinctive enough to find in the simulator's report.
#pragma once
#include <stdint.h>

static const uintptr_t kFaultAddress = 0x4d0;
