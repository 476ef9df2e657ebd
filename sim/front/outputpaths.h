// Where a run's outputs go: which places are refused, and the snapshot
// folder's own file names.
#pragma once
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tapsim {

// Every output of one run; an empty path is an output not asked for.
struct OutputPaths {
  std::filesystem::path snapshots{};       // a folder of screen-NNN.png
  std::filesystem::path contactSheet{};
  std::filesystem::path checksums{};
  std::filesystem::path trace{};
  std::filesystem::path windowCaptures{};  // a folder of window-NNN.png
  std::filesystem::path record{};          // the keys pressed, as a key script
};

// Why these outputs may not be written, as one line naming the option;
// nothing when they may. Refused before anything is written: an output that
// is the module file or the key script (empty when keys come otherwise), lies
// on the simulated disk (inside diskRoot; empty for a fresh disk of the
// run's own), or is the same file as another output,
// counting the numbered names inside the two folders. Paths are compared with
// symbolic links and relative parts resolved, and a hard link is the same file.
std::optional<std::string> refusedOutput(const OutputPaths& outputs, const std::filesystem::path& module,
                                         const std::filesystem::path& diskRoot,
                                         const std::filesystem::path& keyScript = {});

// The snapshot names: "screen-" and three or more digits, then ".png".
inline constexpr std::string_view kSnapshotPrefix = "screen-";
inline constexpr std::string_view kWindowCapturePrefix = "window-";
bool isNumberedPng(std::string_view fileName, std::string_view prefix);

// Removes the files with the numbered names of prefix from folder, and
// nothing else (a folder of such a name stays). Nothing, and error set, when one cannot go.
std::optional<size_t> removeNumbered(const std::filesystem::path& folder, std::string_view prefix,
                                     std::string& error);

}  // namespace tapsim
