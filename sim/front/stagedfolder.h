// A folder output (screen-NNN.png, window-NNN.png) written as one set.
#pragma once
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tapsim {

// The run's files go to a hidden folder beside the target; place() then puts
// them in for an earlier run's numbered files, and every other file in the
// target stays. Until then, and for ever when the run is cut short, the
// target is as it was; the hidden folder goes with this object.
class StagedFolder {
 public:
  // Refused, with error set, when the target is not a folder or its folder is
  // missing. The caller holds the target's OutputLock: staging folders that
  // killed runs left beside it are removed.
  static std::optional<StagedFolder> create(const std::filesystem::path& target, std::string_view prefix,
                                            std::string& error);
  StagedFolder(StagedFolder&& other) noexcept;
  StagedFolder& operator=(StagedFolder&& other) noexcept;
  StagedFolder(const StagedFolder&) = delete;
  StagedFolder& operator=(const StagedFolder&) = delete;
  ~StagedFolder();

  // Where this run's file `number` (from 1) is written.
  std::filesystem::path file(size_t number) const;
  const std::filesystem::path& staging() const { return staging_; }
  // How many numbered files of an earlier run gave way; nothing, and error set, on failure.
  std::optional<size_t> place(std::string& error);

 private:
  StagedFolder(std::filesystem::path target, std::filesystem::path staging, std::string_view prefix)
      : target_(std::move(target)), staging_(std::move(staging)), prefix_(prefix) {}
  void remove() noexcept;
  std::filesystem::path target_, staging_;
  std::string_view prefix_;
};

}  // namespace tapsim
