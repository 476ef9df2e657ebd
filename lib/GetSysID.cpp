#include "taplib.h"

extern "C" uint16_t GetSysID(void) {
  if (!LibInitialized) InitTAPex();
  return static_cast<uint16_t>(TAP_GetSystemId() & 0xFFFFu);
}
