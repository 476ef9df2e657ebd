// What the platform needs to start a module.
#include "tap.h"

extern "C" int32_t __TAP_Init_(TapEntryPoints* entryPoints) {
  entryPoints->slot[0] = reinterpret_cast<void*>(TAP_Main);
  entryPoints->slot[1] = reinterpret_cast<void*>(TAP_EventHandler);
  return 0;
}
