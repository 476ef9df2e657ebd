#include "taplib.h"

extern "C" {
char puffer[512];
}

static const char WARNING_FORMAT[] =
    "TAP_MemAlloc_Chk Warning: TAP_MemAlloc(%d) returned NULL pointer @ %s\n";

enum : uint32_t {
  WIDEST_SIZE = 11,  // "-2147483648"
  CONVERSIONS = 4,   // "%d" and "%s"
  // What is left of puffer for the caller's name once the rest of the warning,
  // the widest size and the terminator have their place.
  NAME_ROOM = sizeof(puffer) - (sizeof(WARNING_FORMAT) - 1 - CONVERSIONS) - WIDEST_SIZE - 1,
};

// Copies at most NAME_ROOM characters of the name, so that a long name is cut
// and the warning still ends in its line feed inside puffer.
static void CutCallerName(const char* caller, char* name) {
  uint32_t i = 0;
  if (caller != nullptr)
    for (; i < NAME_ROOM && caller[i] != '\0'; ++i) name[i] = caller[i];
  name[i] = '\0';
}

extern "C" void* TAP_MemAlloc_Chk(const char* caller, int32_t size) {
  void* block = TAP_MemAlloc(static_cast<uint32_t>(size));
  if (block == nullptr) {
    char name[NAME_ROOM + 1];
    CutCallerName(caller, name);
    TAP_SPrint(puffer, WARNING_FORMAT, size, name);
    PrintNet(puffer);
  }
  return block;
}
