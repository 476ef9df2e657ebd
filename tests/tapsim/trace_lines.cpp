#include "trace_lines.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <stdexcept>

namespace tapsim_test {
namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool take(std::string_view expected) {
    if (!text_.substr(at_).starts_with(expected)) return false;
    at_ += expected.size();
    return true;
  }
  bool atEnd() const { return at_ == text_.size(); }
  char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

  std::optional<std::string> string() {
    if (!take("\"")) return std::nullopt;
    std::string out;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return std::nullopt;
      const char escaped = text_[at_++];
      if (escaped == 'u') {
        unsigned code = 0;
        if (at_ + 4 > text_.size()) return std::nullopt;
        const auto [end, status] = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16);
        if (status != std::errc() || end != text_.data() + at_ + 4 || code > 0xFF) return std::nullopt;
        out += static_cast<char>(code);
        at_ += 4;
      } else if (escaped == '"' || escaped == '\\') {
        out += escaped;
      } else {
        return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // A number, null, or a string, as the value of an argument or result.
  std::optional<std::string> value() {
    if (peek() == '"') return string();
    const size_t start = at_;
    while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '-'))
      ++at_;
    if (at_ == start) return std::nullopt;
    return std::string(text_.substr(start, at_ - start));
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

uint64_t toNumber(const std::string& text) {
  int64_t value = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (status != std::errc() || end != text.data() + text.size())
    throw std::invalid_argument("not a number in the trace: " + text);
  return static_cast<uint64_t>(value);
}

}  // namespace

uint64_t TraceCall::number(size_t arg) const { return toNumber(args.at(arg)); }
uint64_t TraceCall::resultNumber() const { return toNumber(result.value()); }

std::optional<TraceCall> parseTraceLine(std::string_view line) {
  Scanner scan(line);
  TraceCall call;
  if (!scan.take("{\"call\":")) return std::nullopt;
  auto name = scan.string();
  if (!name || !scan.take(",\"args\":[")) return std::nullopt;
  call.call = *name;
  while (!scan.take("]")) {
    if (!call.args.empty() && !scan.take(",")) return std::nullopt;
    auto arg = scan.value();
    if (!arg) return std::nullopt;
    call.args.push_back(*arg);
  }
  if (scan.take(",\"result\":")) {
    call.result = scan.value();
    if (!call.result) return std::nullopt;
  }
  if (!scan.take("}") || !scan.atEnd()) return std::nullopt;
  return call;
}

Trace readTrace(const std::filesystem::path& file) {
  Trace trace;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (auto call = parseTraceLine(line))
      trace.calls.push_back(*call);
    else
      trace.unreadable.push_back(line);
  }
  return trace;
}

}  // namespace tapsim_test
