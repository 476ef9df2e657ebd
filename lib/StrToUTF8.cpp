#include "taplib.h"

extern "C" void StrToUTF8(const char* src, char* dest) {
  if (src == nullptr || dest == nullptr) return;
  for (; *src != '\0'; ++src) {
    if (static_cast<uint8_t>(*src) < 0x80) {
      *dest++ = *src;
      continue;
    }
    const uint16_t encoded = CharToUTF8(src);
    *dest++ = static_cast<char>(encoded >> 8);
    *dest++ = static_cast<char>(encoded & 0xFFu);
  }
  *dest = '\0';
}
