#include "trace.h"

#include <cinttypes>

namespace tapsim {

std::string jsonQuoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

TraceLine::TraceLine(std::FILE* out, std::string_view call) : out_(out) {
  if (out_ != nullptr) line_ = "{\"call\":" + jsonQuoted(call) + ",\"args\":[";
}

TraceLine::~TraceLine() {
  if (out_ == nullptr) return;
  line_ += "]";
  if (!resultText_.empty()) line_ += ",\"result\":" + resultText_;
  line_ += "}\n";
  std::fputs(line_.c_str(), out_);
  std::fflush(out_);
}

TraceLine& TraceLine::raw(const std::string& text) {
  if (out_ == nullptr) return *this;
  if (!firstArg_) line_ += ',';
  firstArg_ = false;
  line_ += text;
  return *this;
}

TraceLine& TraceLine::arg(std::string_view text) { return out_ ? raw(jsonQuoted(text)) : *this; }

TraceLine& TraceLine::address(uint64_t value) {
  if (out_ == nullptr) return *this;
  return raw(value != 0 ? addressText(value) : std::string("null"));
}

std::string TraceLine::addressText(uint64_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "\"0x%" PRIx64 "\"", address);
  return text;
}

}  // namespace tapsim
