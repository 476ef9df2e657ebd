#pragma once
// The trace of platform calls: written beside its target and put in place
// whole at the end, so a failed run never leaves half a trace that looks whole.
#include <cstdio>
#include <filesystem>
#include <string>

namespace tapsim {

class TraceFile {
 public:
  TraceFile() = default;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;
  ~TraceFile();

  bool open(const std::filesystem::path& target, std::string& error);
  std::FILE* file() const { return file_; }
  // Flushes, checks every write, and renames into place; true without a trace.
  bool commit(std::string& error);

 private:
  std::filesystem::path target_, temporary_;
  std::FILE* file_ = nullptr;
};

}  // namespace tapsim
