#include "stagedfolder.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

#include "outputpaths.h"

namespace tapsim {

namespace fs = std::filesystem;

namespace {

// What a run killed outright left: the caller holds the target's claim, so
// no staging folder of it can belong to a run still going.
void removeAbandoned(const fs::path& parent, const std::string& stem) {
  std::error_code ec;
  for (fs::directory_iterator entries(parent, ec); !ec && entries != fs::directory_iterator(); entries.increment(ec)) {
    std::error_code ignored;
    const bool folder = entries->symlink_status(ignored).type() == fs::file_type::directory;
    if (folder && entries->path().filename().string().starts_with(stem)) fs::remove_all(entries->path(), ignored);
  }
}

}  // namespace

std::optional<StagedFolder> StagedFolder::create(const fs::path& target, std::string_view prefix,
                                                 std::string& error) {
  fs::path folder = target;
  while (folder.has_relative_path() && folder.filename().empty()) folder = folder.parent_path();
  std::error_code ec;
  const fs::path absolute = fs::absolute(folder, ec);
  if (fs::exists(absolute, ec) && !fs::is_directory(absolute, ec)) {
    error = "cannot write " + target.string() + ": is not a folder";
    return std::nullopt;
  }
  // Found now rather than when the set is put in place, half of it already there.
  for (fs::directory_iterator entries(absolute, ec); !ec && entries != fs::directory_iterator();
       entries.increment(ec)) {
    const auto type = entries->symlink_status(ec).type();
    if (isNumberedPng(entries->path().filename().string(), prefix) && type != fs::file_type::regular &&
        type != fs::file_type::symlink) {
      error = "cannot write " + entries->path().string() + ": is a folder or another kind of file that " +
              "a screen cannot replace";
      return std::nullopt;
    }
  }
  ec.clear();
  const fs::path parent = absolute.parent_path();
  if (!fs::is_directory(parent, ec)) {
    error = "cannot write " + target.string() + ": no folder " + parent.string();
    return std::nullopt;
  }
  const std::string stem = "." + absolute.filename().string() + ".tapsim-";
  removeAbandoned(parent, stem);
  std::string staging = (parent / (stem + std::to_string(getpid()) + "-XXXXXX")).string();
  if (mkdtemp(staging.data()) == nullptr) {
    error = "cannot write " + target.string() + ": " + std::error_code(errno, std::generic_category()).message();
    return std::nullopt;
  }
  return StagedFolder(absolute, staging, prefix);
}

StagedFolder::StagedFolder(StagedFolder&& other) noexcept
    : target_(std::move(other.target_)), staging_(std::exchange(other.staging_, {})), prefix_(other.prefix_) {}

StagedFolder& StagedFolder::operator=(StagedFolder&& other) noexcept {
  if (this != &other) {
    remove();
    target_ = std::move(other.target_);
    staging_ = std::exchange(other.staging_, {});
    prefix_ = other.prefix_;
  }
  return *this;
}

StagedFolder::~StagedFolder() { remove(); }

void StagedFolder::remove() noexcept {
  if (staging_.empty()) return;
  std::error_code ignored;
  fs::remove_all(staging_, ignored);
  staging_.clear();
}

fs::path StagedFolder::file(size_t number) const {
  char name[48];
  std::snprintf(name, sizeof name, "%.*s%03zu.png", static_cast<int>(prefix_.size()), prefix_.data(), number);
  return staging_ / name;
}

std::optional<size_t> StagedFolder::place(std::string& error) {
  // A target that is not there yet becomes the staging folder in one step.
  if (rename(staging_.c_str(), target_.c_str()) == 0) {
    staging_.clear();
    return 0;
  }
  const auto removed = removeNumbered(target_, prefix_, error);
  if (!removed) return std::nullopt;
  std::error_code ec;
  for (fs::directory_iterator entries(staging_, ec); !ec && entries != fs::directory_iterator();
       entries.increment(ec)) {
    const fs::path to = target_ / entries->path().filename();
    if (rename(entries->path().c_str(), to.c_str()) != 0) {
      error = "cannot write " + to.string() + ": " + std::error_code(errno, std::generic_category()).message();
      return std::nullopt;
    }
  }
  if (ec) {
    error = "cannot write " + target_.string() + ": " + ec.message();
    return std::nullopt;
  }
  return removed;
}

}  // namespace tapsim
