// A main function that uses the C library as an author's module would: it
// copies, compares and formats with it, and prints and shows what it made. The receiver
// build takes these from the receiver's C library, the PC build from the PC's.
#include <stdio.h>
#include <string.h>

#include "frame/tap.h"

extern "C" int32_t TAP_Main(void) {
  char name[16];
  memcpy(name, "Quarnel", sizeof "Quarnel");
  char line[64];
  snprintf(line, sizeof line, "%s is %s, %d pages\n", name, strcmp(name, "Quarnel") == 0 ? "itself" : "another", 21);
  TAP_Print("%s", line);
  const TapRegion region = TAP_Osd_Create(0, 0, 720, 576, 0, 0);
  TAP_Osd_PutS(region, 60, 60, 700, line, 0xFFFFFFFFu, 0xFF000000u, 0, 0, 0, 0);
  TAP_Osd_Sync();
  TAP_Osd_Delete(region);
  return 0;
}
