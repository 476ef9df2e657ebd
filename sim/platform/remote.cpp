#include "remote.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

#include "../../frame/tap.h"

namespace tapsim {
namespace {

constexpr std::array<uint16_t, 5> kTranslatedModels = {22120, 22130, 32030, 32031, 33021};
constexpr uint32_t kRemoteNext = 0x10025, kRemotePrevious = 0x10026;
constexpr int32_t kTranslatedRemoteType = 2;
constexpr uint64_t kMaxRepeat = 1000000;
constexpr std::string_view kSeparators = " \t\r\n,";  // \r: a script saved with CRLF line endings
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::optional<RemotePress> parsePress(std::string_view name) {
  using Kind = RemotePress::Kind;
  if (name == "next") return RemotePress{Kind::Next};
  if (name == "prev" || name == "previous") return RemotePress{Kind::Previous};
  if (name == "quit" || name == "exit") return RemotePress{Kind::Quit};
  if (!name.starts_with("0x") && !name.starts_with("0X")) return std::nullopt;
  uint32_t raw = 0;
  const char* end = name.data() + name.size();
  const auto [stop, status] = std::from_chars(name.data() + 2, end, raw, 16);
  if (name.size() == 2 || status != std::errc() || stop != end) return std::nullopt;
  return RemotePress{Kind::Raw, raw};
}

std::string pressName(RemotePress press) {
  switch (press.kind) {
    case RemotePress::Kind::Next: return "next";
    case RemotePress::Kind::Previous: return "prev";
    case RemotePress::Kind::Quit: return "quit";
    case RemotePress::Kind::Raw: break;
  }
  char word[16];
  std::snprintf(word, sizeof word, "0x%X", press.raw);
  return word;
}

}  // namespace

bool Remote::sendsTranslatedCodes() const {
  const auto model = static_cast<uint16_t>(systemId & 0xFFFF);
  return remoteType == kTranslatedRemoteType ||
         std::find(kTranslatedModels.begin(), kTranslatedModels.end(), model) != kTranslatedModels.end();
}

uint32_t Remote::code(RemotePress press) const {
  const bool other = sendsTranslatedCodes();
  switch (press.kind) {
    case RemotePress::Kind::Next: return other ? kRemoteNext : TAP_KEY_NEXT_PAGE;
    case RemotePress::Kind::Previous: return other ? kRemotePrevious : TAP_KEY_PREVIOUS_PAGE;
    case RemotePress::Kind::Quit: return TAP_KEY_QUIT;
    case RemotePress::Kind::Raw: break;
  }
  return press.raw;
}

std::optional<std::vector<RemotePress>> parseKeyScript(std::string_view script, std::string& error) {
  std::vector<RemotePress> presses;
  if (script.starts_with(kByteOrderMark)) script.remove_prefix(kByteOrderMark.size());
  size_t at = 0;
  while (at < script.size()) {
    const size_t start = script.find_first_not_of(kSeparators, at);
    if (start == std::string_view::npos) break;
    const size_t stop = std::min(script.find_first_of(kSeparators, start), script.size());
    std::string_view token = script.substr(start, stop - start);
    at = stop;
    uint64_t repeat = 1;
    if (const size_t star = token.find('*'); star != std::string_view::npos) {
      const std::string_view count = token.substr(star + 1);
      const auto [end, status] = std::from_chars(count.data(), count.data() + count.size(), repeat);
      if (status != std::errc() || end != count.data() + count.size() || repeat == 0 || repeat > kMaxRepeat) {
        error = "bad repeat count in key \"" + std::string(token) + "\"";
        return std::nullopt;
      }
      token = token.substr(0, star);
    }
    const auto press = parsePress(token);
    if (!press) {
      error = "unknown key \"" + std::string(token) + "\" (use next, prev, quit or a hexadecimal code such as 0x10045)";
      return std::nullopt;
    }
    if (repeat > kMaxKeyScriptPresses - presses.size()) {
      error = "more than " + std::to_string(kMaxKeyScriptPresses) +
              " keys, repeats counted; a key script holds at most that many";
      return std::nullopt;
    }
    presses.insert(presses.end(), repeat, *press);
  }
  return presses;
}

std::string formatKeyScript(const std::vector<RemotePress>& presses) {
  constexpr size_t kLineWidth = 72;
  std::string script, line;
  for (size_t at = 0; at < presses.size();) {
    size_t run = 1;
    while (at + run < presses.size() && presses[at + run] == presses[at] && run < kMaxRepeat) ++run;
    std::string token = pressName(presses[at]);
    if (run > 1) token += "*" + std::to_string(run);
    at += run;
    if (!line.empty() && line.size() + 1 + token.size() > kLineWidth) {
      script += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + token;
  }
  return line.empty() ? script : script + line + "\n";
}

}  // namespace tapsim
