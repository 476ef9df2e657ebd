#include "taplib.h"

extern "C" int32_t* FIS_vcurTapTask(void) {
  static int32_t* vcurTapTask = nullptr;
  if (vcurTapTask != nullptr) return vcurTapTask;
  vcurTapTask = static_cast<int32_t*>(TryResolve("_curTapTask"));
  return vcurTapTask;
}
