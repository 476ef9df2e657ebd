// A start-up entry that reports a handler but no main function.
#include "frame/tap.h"

extern "C" __attribute__((visibility("protected"))) int32_t __TAP_Init_(TapEntryPoints* entryPoints) {
  entryPoints->slot[0] = nullptr;
  entryPoints->slot[1] = reinterpret_cast<void*>(TAP_EventHandler);
  return 0;
}
