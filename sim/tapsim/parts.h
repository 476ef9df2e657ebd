#pragma once
// Parts of tapsim that a run loads only when it needs them, so that a run
// without a window or a crash starts without their libraries: the window
// front end (SDL2 and the ~59 libraries it brings) and the crash reader
// (libdw). They lie beside the PC board, in the build folder or the installation.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tapsim {

struct Part {
  std::string_view file;    // its file name, beside the PC board
  std::string_view what;    // for people: "the window front end"
  std::string_view target;  // the build target that makes it
};

inline constexpr Part kWindowPart{"tapsim-window.so", "the window front end", "tapsim-window"};
inline constexpr Part kCrashReader{"tapsim-crash.so", "the crash reader", "tapsim-crash"};

// Where a part is, and what to do when it cannot be loaded from there.
struct PartFile {
  std::filesystem::path path;
  std::string_view what;
  std::string remedy;  // "reinstall it", "build the target tapsim-crash"
};

// One line for a part that is not there, else nothing.
std::optional<std::string> missingPart(const PartFile& part);

// A part loaded for the rest of the run, unloaded when it goes.
class LoadedPart {
 public:
  // Loaded, with its entry of that name found; else nothing, with error set
  // to one line naming the file and what to do.
  static std::optional<LoadedPart> load(const PartFile& part, const char* entryName, std::string& error);
  LoadedPart(LoadedPart&& other) noexcept;
  LoadedPart& operator=(LoadedPart&& other) noexcept;
  LoadedPart(const LoadedPart&) = delete;
  LoadedPart& operator=(const LoadedPart&) = delete;
  ~LoadedPart();

  template <typename Entry>
  Entry entry() const {
    return reinterpret_cast<Entry>(entry_);
  }

 private:
  LoadedPart(void* handle, void* entry) : handle_(handle), entry_(entry) {}
  void* handle_ = nullptr;
  void* entry_ = nullptr;
};

}  // namespace tapsim
