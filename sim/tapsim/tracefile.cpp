#include "tracefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tapsim {

TraceFile::~TraceFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temporary_.empty()) unlink(temporary_.c_str());
}

bool TraceFile::open(const std::filesystem::path& target, std::string& error) {
  target_ = target;
  std::error_code ec;
  const auto status = std::filesystem::status(target, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    // A device or a pipe is written as it is; only a file is replaced whole.
    if (std::filesystem::is_directory(status)) {
      error = "cannot write the trace to " + target.string() + ": it is a folder";
      return false;
    }
    file_ = std::fopen(target.c_str(), "w");
  } else {
    std::string pattern = (target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path()) /
                          ("." + target.filename().string() + ".XXXXXX");
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) {
      temporary_ = pattern;
      file_ = fdopen(fd, "w");
    }
  }
  if (file_ == nullptr) {
    error = "cannot write the trace to " + target.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool TraceFile::commit(std::string& error) {
  if (file_ == nullptr) return true;
  const bool written = std::fflush(file_) == 0 && !std::ferror(file_);
  const int savedErrno = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!written || !closed) {
    error = "cannot write the trace to " + target_.string() + ": " + std::strerror(written ? errno : savedErrno);
    return false;
  }
  if (temporary_.empty()) return true;
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    error = "cannot put the trace in place at " + target_.string() + ": " + std::strerror(errno);
    return false;
  }
  temporary_.clear();
  return true;
}

}  // namespace tapsim
