#include "taplib.h"

extern "C" {

char TAPDirStack[TAP_DIR_STACK_SLOTS][TAP_PATH_SIZE];
int32_t TAPDirStackDepth = -1;

int32_t HDD_TAP_PushDir(void) {
  const int32_t slot = TAPDirStackDepth + 1;
  if (slot < 0 || slot >= static_cast<int32_t>(TAP_DIR_STACK_SLOTS)) return 0;
  if (HDD_TAP_GetCurrentDir(TAPDirStack[slot]) != 0) return 0;
  TAPDirStackDepth = slot;
  return 1;
}

}  // extern "C"
