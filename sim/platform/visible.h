#pragma once
#include <string>
#include <string_view>

namespace tapsim {

// Bytes as a person can read them: the zero byte as \0, line ends as \n,
// backslash doubled, other control and 8-bit bytes as \xHH.
std::string visibleBytes(std::string_view bytes);

}  // namespace tapsim
