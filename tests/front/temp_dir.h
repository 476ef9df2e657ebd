#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>

#include <filesystem>
#include <string>

namespace tapsim {

// A folder of its own for each test, removed afterwards.
class TempDir {
 public:
  // Not named after the test: a parameterised test's name holds '/', which
  // would make a folder inside a folder and leave the outer one behind.
  TempDir() {
    std::string name = (std::filesystem::temp_directory_path() / "front-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) throw std::filesystem::filesystem_error("mkdtemp", name, {errno, std::generic_category()});
    path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace tapsim
