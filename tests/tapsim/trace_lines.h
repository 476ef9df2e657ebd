// Reads the simulator's trace: one flat JSON object per line,
// {"call":"NAME","args":[...],"result":VALUE}, "result" optional.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tapsim_test {

struct TraceCall {
  std::string call;
  std::vector<std::string> args;  // strings unquoted, numbers and null as written
  std::optional<std::string> result;

  uint64_t number(size_t arg) const;  // throws when the argument is no number
  uint64_t resultNumber() const;
};

// Nothing when the line is not such an object.
std::optional<TraceCall> parseTraceLine(std::string_view line);

struct Trace {
  std::vector<TraceCall> calls;
  std::vector<std::string> unreadable;  // lines that did not parse
};
Trace readTrace(const std::filesystem::path& file);

}  // namespace tapsim_test
