#include "tracefile.h"

#include <cstring>

namespace tapsim {
namespace {

// The stream's bytes go to the file, which keeps the first failure and its reason.
ssize_t writeToFile(void* cookie, const char* bytes, size_t size) {
  auto* file = static_cast<AtomicFile*>(cookie);
  return file->write(std::string_view(bytes, size)) ? static_cast<ssize_t>(size) : -1;
}

}  // namespace

TraceFile::~TraceFile() {
  if (stream_ != nullptr) std::fclose(stream_);
}

bool TraceFile::open(const std::filesystem::path& target, std::string& error) {
  file_ = AtomicFile::create(target, error);
  if (!file_) {
    error = "cannot write the trace: " + error;
    return false;
  }
  stream_ = fopencookie(&*file_, "w", cookie_io_functions_t{nullptr, writeToFile, nullptr, nullptr});
  if (stream_ == nullptr) {
    error = "cannot write the trace to " + target.string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool TraceFile::close(std::string& error) {
  if (stream_ == nullptr) return true;
  std::fclose(stream_);
  stream_ = nullptr;
  if (!file_->error().empty()) {
    error = "the trace is incomplete: " + file_->error();
    file_->discard();
    return false;
  }
  if (file_->close(error)) return true;
  error = "the trace is incomplete: " + error;
  return false;
}

bool TraceFile::place(std::string& error) { return !file_ || file_->commit(error); }

}  // namespace tapsim
