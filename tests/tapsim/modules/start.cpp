// The start-up entry: reports the module's TAP_Main and TAP_EventHandler.
#include "frame/tap.h"

extern "C" __attribute__((visibility("protected"))) int32_t __TAP_Init_(TapEntryPoints* entryPoints) {
  entryPoints->slot[0] = reinterpret_cast<void*>(TAP_Main);
  entryPoints->slot[1] = reinterpret_cast<void*>(TAP_EventHandler);
  return 0;
}
