#pragma once
// The trace of platform calls: a stream the trace lines are printed to, over
// a file that appears whole at the end of the run or not at all.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "front/atomicfile.h"

namespace tapsim {

class TraceFile {
 public:
  TraceFile() = default;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;
  ~TraceFile();

  bool open(const std::filesystem::path& target, std::string& error);
  std::FILE* file() const { return stream_; }
  // Checks every write and closes the file; true without a trace.
  bool close(std::string& error);
  // Puts the closed file in place; true without a trace.
  bool place(std::string& error);

 private:
  std::optional<AtomicFile> file_;
  std::FILE* stream_ = nullptr;
};

}  // namespace tapsim
