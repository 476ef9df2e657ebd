#include "taplib.h"

extern "C" uint16_t CharToUTF8(const char* p) {
  if (p == nullptr) return 0;
  const uint8_t c = static_cast<uint8_t>(*p);
  if (c < 0x80) return c;
  return static_cast<uint16_t>(0xC080u | ((c & 0xC0u) << 2) | (c & 0x3Fu));
}
