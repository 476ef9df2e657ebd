#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

namespace tapsim {

// One JSON line per platform call: {"call":"TAP_Osd_FillBox","args":[1,0,0,720,576,4278190080],"result":1}
class TraceLine {
 public:
  TraceLine(std::FILE* out, std::string_view call);
  ~TraceLine();
  TraceLine(const TraceLine&) = delete;
  TraceLine& operator=(const TraceLine&) = delete;

  TraceLine& arg(std::string_view text);
  TraceLine& arg(const char* text) { return text ? arg(std::string_view(text)) : null(); }
  template <typename T>
    requires std::is_arithmetic_v<T>
  TraceLine& arg(T value) {
    return raw(std::to_string(value));
  }
  TraceLine& pointer(const void* address);
  TraceLine& null() { return raw("null"); }
  template <typename T>
  T result(T value) {
    if constexpr (std::is_pointer_v<T>)
      resultText_ = value ? addressText(value) : "null";
    else
      resultText_ = std::to_string(value);
    return value;
  }

 private:
  TraceLine& raw(const std::string& text);
  static std::string addressText(const void* address);
  std::FILE* out_;
  std::string line_;
  std::string resultText_;
  bool firstArg_ = true;
};

std::string jsonQuoted(std::string_view text);

}  // namespace tapsim
