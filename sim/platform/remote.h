#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tapsim {

// The three buttons the module pages with, or any raw key word.
struct RemotePress {
  enum class Kind { Next, Previous, Quit, Raw };
  Kind kind = Kind::Raw;
  uint32_t raw = 0;  // the key word sent, for Kind::Raw
  friend bool operator==(const RemotePress&, const RemotePress&) = default;
};

// A model's remote control: on models whose keys the library translates, the
// paging buttons send other codes, as the real remote would.
struct Remote {
  uint32_t systemId = 0;
  int32_t remoteType = 1;
  bool sendsTranslatedCodes() const;
  uint32_t code(RemotePress press) const;
};

// The most presses one script may hold, repeats counted: far more than a
// run ever needs, and few enough to keep in memory.
inline constexpr size_t kMaxKeyScriptPresses = 1'000'000;

// "next next prev quit 0x10020 next*5": names, hexadecimal words, repeats;
// CRLF line endings and a leading byte-order mark are taken as a text editor writes them.
std::optional<std::vector<RemotePress>> parseKeyScript(std::string_view script, std::string& error);
// The script that parseKeyScript reads back as these presses: runs as
// "next*3", lines of at most about 72 characters, ending with a newline.
std::string formatKeyScript(const std::vector<RemotePress>& presses);

}  // namespace tapsim
