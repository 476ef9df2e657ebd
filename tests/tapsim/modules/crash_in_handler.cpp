// An event handler that reads from an address no module owns on the first key.
#include "frame/tap.h"

#include "fault_address.h"

extern "C" uint32_t TAP_EventHandler(uint32_t, uint32_t, uint32_t) {
  return *faultingWord();  // frame 0
}

// Read by the main function that waits for the quit key, which never comes here.
extern "C" {
int32_t quitSeen = 0;
}
