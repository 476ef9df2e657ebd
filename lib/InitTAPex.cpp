#include "taplib.h"

extern "C" {

int32_t LibInitialized = 0;
uint16_t ApplID = 0;
int32_t TAP_TableIndex = 0;

int32_t InitTAPex(void) {
  if (LibInitialized) return 1;
  ApplID = static_cast<uint16_t>(TAP_GetVersion() & 0xFFFFu);
  const int32_t* current = FIS_vcurTapTask();
  if (current != nullptr) TAP_TableIndex = *current;
  LibInitialized = 1;
  return 1;
}

}  // extern "C"
