#include "taplib.h"

extern "C" int32_t HDD_TAP_PopDir(void) {
  const int32_t slot = TAPDirStackDepth;
  if (slot < 0 || slot >= static_cast<int32_t>(TAP_DIR_STACK_SLOTS)) return 0;
  TAPDirStackDepth = slot - 1;
  return HDD_ChangeDir(TAPDirStack[slot]);
}
