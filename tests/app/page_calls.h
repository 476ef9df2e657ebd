// The calls each page must make, written out from the page descriptions.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fake_platform.h"

namespace quarnel::test {

inline constexpr uint32_t kNext = 0x10045, kPrevious = 0x10046;

inline std::string hexColour(uint32_t colour) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", colour);
  return text;
}

inline std::string fill(int region, uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint32_t colour) {
  return "TAP_Osd_FillBox(" + std::to_string(region) + "," + std::to_string(x) + "," + std::to_string(y) +
         "," + std::to_string(w) + "," + std::to_string(h) + "," + hexColour(colour) + ")";
}

inline std::string puts(int region, uint32_t x, uint32_t y, std::string_view text, uint32_t colour) {
  return "TAP_Osd_PutS(" + std::to_string(region) + "," + std::to_string(x) + "," + std::to_string(y) +
         ",400,\"" + std::string(text) + "\"," + hexColour(colour) + ",0x0,0,0,0,0)";
}

inline std::string sprint(std::string_view format, std::string_view result) {
  return "TAP_SPrint(\"" + std::string(format) + "\") -> \"" + std::string(result) + "\"";
}

inline uint32_t grey(uint32_t v) { return 0xFF000000u | v << 16 | v << 8 | v; }

inline std::vector<std::string> rampCalls(int region) {
  std::vector<std::string> calls{fill(region, 0, 0, 720, 576, 0xFF000000)};
  for (uint32_t a = 1; a <= 255; ++a) {
    const uint32_t x = 2 * a + 102;
    calls.push_back(fill(region, x, 25, 2, 65, grey(a)));
    calls.push_back(fill(region, x, 100, 2, 65, 0xFF000000 | a << 16));
    calls.push_back(fill(region, x, 175, 2, 65, 0xFF000000 | a << 8));
    calls.push_back(fill(region, x, 250, 2, 65, 0xFF000000 | a));
    calls.push_back(fill(region, x, 325, 2, 65, 0xFF000000 | a << 16 | a << 8));
    calls.push_back(fill(region, x, 400, 2, 65, 0xFF000000 | a << 16 | a));
    calls.push_back(fill(region, x, 475, 2, 65, 0xFF000000 | a << 8 | a));
  }
  return calls;
}

// The drawing calls of the page without its sync.
inline std::vector<std::string> pageCalls(int page, int region) {
  if (page == 1) return rampCalls(region);
  if (page == 2) {
    std::vector<std::string> calls{
        fill(region, 0, 0, 720, 288, 0xFF101010),  fill(region, 0, 288, 720, 288, 0xFFEEEEEE),
        fill(region, 80, 0, 4, 288, 0xFFFFFFFF),   fill(region, 80, 288, 4, 288, 0xFF000000),
        fill(region, 640, 0, 4, 288, 0xFFFFFFFF),  fill(region, 640, 288, 4, 288, 0xFF000000)};
    const uint32_t dark[] = {0, 8, 16, 24, 32}, light[] = {255, 246, 238, 230, 222};
    for (uint32_t i = 0; i < 5; ++i) {
      calls.push_back(fill(region, 300, 90 + 21 * i, 120, 21, grey(dark[i])));
      calls.push_back(fill(region, 300, 378 + 21 * i, 120, 21, grey(light[i])));
      calls.push_back(sprint("%i", std::to_string(dark[i])));
      calls.push_back(puts(region, 310, 90 + 21 * i, std::to_string(dark[i]), 0xFF323232));
      calls.push_back(sprint("%i", std::to_string(light[i])));
      calls.push_back(puts(region, 310, 378 + 21 * i, std::to_string(light[i]), 0xFFCECECE));
    }
    return calls;
  }
  if (page == 3)
    return {fill(region, 0, 0, 240, 288, 0xFF0000FF), fill(region, 0, 288, 240, 288, 0xFF00FFFF),
            fill(region, 240, 0, 240, 576, 0xFFFF00FF), fill(region, 480, 0, 240, 288, 0xFF00FFFF),
            fill(region, 480, 288, 240, 288, 0xFF0000FF)};
  return {};  // field pages are table-driven in the tests
}

// Only the calls that draw or show something, or run the loop.
inline std::vector<std::string> screenCalls(const std::vector<std::string>& calls) {
  std::vector<std::string> kept;
  for (const auto& call : calls)
    if (call.starts_with("TAP_Osd_") || call.starts_with("TAP_SPrint") || call.starts_with("TAP_Channel_") ||
        call.starts_with("TAP_SystemProc"))
      kept.push_back(call);
  return kept;
}

}  // namespace quarnel::test
