#pragma once
// Virtual pseudo-terminals. The executable that loads a module exports its own
// `open`, `write` and `close` (and `open64`): "/dev/pts/N" for N in 0..19 is
// served here and never reaches a real terminal; every other path and
// descriptor goes on to the C library.
#include <bitset>
#include <cstddef>
#include <string>
#include <string_view>

namespace tapsim::pts {

inline constexpr int kTerminalCount = 20;
using Terminals = std::bitset<kTerminalCount>;

// Which terminals open; the others fail as a missing device would. Until this
// is called none opens, so nothing written goes anywhere.
void setOpenable(const Terminals& openable);
Terminals openable();

// Every byte written to the terminal so far, in order; empty outside 0..19.
std::string written(int terminal);
// How often the terminal was opened successfully.
int opens(int terminal);
// Virtual descriptors handed out and not yet closed.
std::size_t openDescriptors();

// Back to the start: nothing opens, nothing is written, open descriptors and
// the memory behind the table are released (a run ends with nothing held).
void reset();

// The bytes as a person can read them: the zero byte as \0, line ends as \n,
// backslash doubled, other control and 8-bit bytes as \xHH.
std::string visible(std::string_view bytes);

}  // namespace tapsim::pts
