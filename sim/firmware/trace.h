#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

namespace tapsim {

// One JSON line per platform call: {"call":"TAP_Osd_FillBox","args":[1,0,0,720,576,4278190080],"result":1}
// Without a trace file nothing is formatted: every platform call makes one,
// and a ramp page makes thousands of calls.
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
    return out_ ? raw(std::to_string(value)) : *this;
  }
  // An address or handle in the module's memory, which may be another process's.
  TraceLine& address(uint64_t value);
  uint64_t resultAddress(uint64_t value) {
    if (out_ != nullptr) resultText_ = value != 0 ? addressText(value) : "null";
    return value;
  }
  TraceLine& null() { return out_ ? raw("null") : *this; }
  template <typename T>
    requires std::is_arithmetic_v<T>
  T result(T value) {
    if (out_ != nullptr) resultText_ = std::to_string(value);
    return value;
  }

 private:
  TraceLine& raw(const std::string& text);
  static std::string addressText(uint64_t address);
  std::FILE* out_;
  std::string line_;
  std::string resultText_;
  bool firstArg_ = true;
};

std::string jsonQuoted(std::string_view text);

}  // namespace tapsim
