#include "visible.h"

namespace tapsim {

std::string visibleBytes(std::string_view bytes) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    switch (byte) {
      case '\0': shown += "\\0"; break;
      case '\n': shown += "\\n"; break;
      case '\r': shown += "\\r"; break;
      case '\t': shown += "\\t"; break;
      case '\\': shown += "\\\\"; break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          shown += "\\x";
          shown += kHex[byte >> 4];
          shown += kHex[byte & 0xF];
        } else {
          shown += c;
        }
    }
  }
  return shown;
}

}  // namespace tapsim
