// What the library fuzz targets share: a failed check aborts with a line that
// names the target, and inputs are read as lines of text so that seeds stay
// readable ("P" pushes, "C/ProgramFiles" changes directory, ...).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace quarnel::fuzz {

inline void check(bool condition, const char* target, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "%s fuzz check failed: %s\n", target, what);
  std::abort();
}

// The input split at line feeds; a line may hold any other byte, NUL included.
inline std::vector<std::string_view> lines(const uint8_t* data, size_t size, size_t most) {
  std::vector<std::string_view> found;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= all.size() && found.size() < most) {
    const size_t end = all.find('\n', start);
    if (end == std::string_view::npos) {
      found.push_back(all.substr(start));
      break;
    }
    found.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return found;
}

}  // namespace quarnel::fuzz
