// One run's claim on an output, so that two runs never write one set.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tapsim {

// An flock on a hidden file beside the target (".NAME.tapsim-lock"), which
// holds the claiming run's pid; the file goes when the claim is given up. A
// device or pipe is never claimed: it is written straight, and shared anyway.
class OutputLock {
 public:
  // Nothing, and error set naming `role` and the other run, when it holds the target.
  static std::optional<OutputLock> take(std::string_view role, const std::filesystem::path& target,
                                        std::string& error);
  OutputLock(OutputLock&& other) noexcept;
  OutputLock& operator=(OutputLock&&) = delete;
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;
  ~OutputLock();

 private:
  OutputLock(std::filesystem::path file, int fd) : file_(std::move(file)), fd_(fd) {}
  std::filesystem::path file_;
  int fd_ = -1;
};

}  // namespace tapsim
