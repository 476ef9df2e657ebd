#include "taplib.h"

extern "C" void* FIS_vTAPTable(void) {
  static void* vTAP_TableAddress = nullptr;
  if (vTAP_TableAddress != nullptr) return vTAP_TableAddress;
  vTAP_TableAddress = TryResolve("_tapTask");
  return vTAP_TableAddress;
}
