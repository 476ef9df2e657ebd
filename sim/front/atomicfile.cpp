#include "atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tapsim {
namespace {

constexpr size_t kBufferSize = size_t{64} << 10;
constexpr int kNameTries = 100;

std::string failureLine(const std::filesystem::path& target, std::string_view reason) {
  return "cannot write " + target.string() + ": " + std::string(reason);
}

bool isStream(mode_t mode) { return S_ISCHR(mode) || S_ISFIFO(mode); }

// Why nothing may be written at target's name; empty when something may.
// `stream` tells that the name leads to a device or pipe, written straight.
std::string unwritable(const std::filesystem::path& target, Existing existing, bool& stream) {
  stream = false;
  if (target.filename().empty()) return "names a folder";
  struct stat own {};
  if (lstat(target.c_str(), &own) != 0) return errno == ENOENT ? "" : std::strerror(errno);
  struct stat followed = own;
  if (S_ISLNK(own.st_mode) && stat(target.c_str(), &followed) != 0) followed = own;  // dangling: replaced
  if (isStream(followed.st_mode)) {
    stream = true;
    return "";
  }
  if (S_ISDIR(own.st_mode)) return "is a folder";
  if (!S_ISREG(own.st_mode) && !S_ISLNK(own.st_mode)) return "is not a regular file";
  if (existing == Existing::Refuse) return std::strerror(EEXIST);
  // By the mode bits rather than access(): root may write anything, yet a
  // read-only golden file is no less meant to stay.
  if (S_ISREG(own.st_mode) && (own.st_mode & 0222) == 0) return "is read-only; make it writable to have it replaced";
  return "";
}

// The replaced file's permissions go to its successor; a new file gets the umask's.
void keepMode(int fd, const std::filesystem::path& target, unsigned& otherNames, bool& link) {
  struct stat own {};
  link = lstat(target.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
  if (link || !S_ISREG(own.st_mode)) return;
  fchmod(fd, own.st_mode & 07777);
  otherNames = own.st_nlink > 1 ? static_cast<unsigned>(own.st_nlink - 1) : 0;
}

// A name in the target's folder that no other writer, in this process or
// another, picks at the same time; opened with O_EXCL to make sure.
int makeTemporary(const std::filesystem::path& target, std::filesystem::path& temporary) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path folder = target.parent_path().empty() ? "." : target.parent_path();
  for (int tries = 0; tries < kNameTries; ++tries) {
    temporary = folder / ("." + target.filename().string() + ".tmp-" + std::to_string(getpid()) + "-" +
                          std::to_string(counter++));
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Fails when the name was taken meanwhile, rather than checking first. File
// systems without that kind of rename get a hard link, which fails the same way.
int placeWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL || link(from.c_str(), to.c_str()) != 0) return -1;
  unlink(from.c_str());
  return 0;
}

}  // namespace

std::optional<AtomicFile> AtomicFile::create(const std::filesystem::path& target, std::string& error,
                                             Existing existing) {
  bool stream = false;
  const std::string reason = unwritable(target, existing, stream);
  if (!reason.empty()) {
    error = failureLine(target, reason);
    return std::nullopt;
  }
  std::filesystem::path temporary;
  const int fd = stream ? open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY) : makeTemporary(target, temporary);
  if (fd < 0) {
    error = failureLine(target, std::strerror(errno));
    return std::nullopt;
  }
  unsigned otherNames = 0;
  bool link = false;
  if (!stream) keepMode(fd, target, otherNames, link);
  AtomicFile file(target, std::move(temporary), fd, existing);
  file.otherNames_ = otherNames;
  file.replacesLink_ = link;
  return file;
}

AtomicFile::AtomicFile(std::filesystem::path target, std::filesystem::path temporary, int fd, Existing existing)
    : target_(std::move(target)), temporary_(std::move(temporary)), fd_(fd), existing_(existing) {
  buffer_.reserve(kBufferSize);
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      fd_(std::exchange(other.fd_, -1)),
      existing_(other.existing_),
      committed_(other.committed_),
      closed_(other.closed_),
      otherNames_(other.otherNames_),
      replacesLink_(other.replacesLink_),
      buffer_(std::move(other.buffer_)),
      error_(std::move(other.error_)) {
  other.temporary_.clear();
}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
  if (this != &other) {
    release();
    target_ = std::move(other.target_);
    temporary_ = std::move(other.temporary_);
    other.temporary_.clear();
    fd_ = std::exchange(other.fd_, -1);
    existing_ = other.existing_;
    committed_ = other.committed_;
    closed_ = other.closed_;
    otherNames_ = other.otherNames_;
    replacesLink_ = other.replacesLink_;
    buffer_ = std::move(other.buffer_);
    error_ = std::move(other.error_);
  }
  return *this;
}

AtomicFile::~AtomicFile() { release(); }

void AtomicFile::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
}

void AtomicFile::discard() {
  release();
  buffer_.clear();
  if (error_.empty()) error_ = failureLine(target_, "discarded");
}

bool AtomicFile::fail(int errorNumber) { return fail(std::strerror(errorNumber)); }

bool AtomicFile::fail(std::string_view reason) {
  if (error_.empty()) error_ = failureLine(target_, reason);
  return false;
}

bool AtomicFile::writeAll(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return fail(errno);
    if (written == 0) return fail(ENOSPC);  // a device that takes nothing more
    bytes = bytes.subspan(static_cast<size_t>(written));
  }
  return true;
}

bool AtomicFile::flushBuffer() {
  const bool ok = writeAll(buffer_);
  buffer_.clear();
  return ok;
}

bool AtomicFile::write(std::span<const uint8_t> bytes) {
  if (!error_.empty() || fd_ < 0) return fail("already closed");
  if (buffer_.size() + bytes.size() > kBufferSize && !flushBuffer()) return false;
  if (bytes.size() >= kBufferSize) return writeAll(bytes);
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  return true;
}

bool AtomicFile::write(std::string_view text) {
  return write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// No fsync: a full disk or a quota shows in write() or, on a network file
// system, in close(); what a sync adds is surviving a power cut, which these
// files do not need, at 3.5 ms for each screen.
bool AtomicFile::closeFile() {
  if (::close(std::exchange(fd_, -1)) != 0 && errno != EINTR) return fail(errno);
  return true;
}

bool AtomicFile::moveIntoPlace() {
  if (temporary_.empty()) return true;
  const int placed = existing_ == Existing::Replace ? rename(temporary_.c_str(), target_.c_str())
                                                     : placeWithoutReplacing(temporary_, target_);
  if (placed != 0) return fail(errno);
  temporary_.clear();
  return true;
}

bool AtomicFile::close(std::string& error) {
  if (closed_) return true;
  closed_ = error_.empty() && fd_ >= 0 && flushBuffer() && closeFile();
  if (!closed_) {
    release();
    fail("already closed");
    error = error_;
  }
  return closed_;
}

bool AtomicFile::commit(std::string& error) {
  if (committed_) return true;
  if (!close(error)) return false;
  const bool ok = moveIntoPlace();
  if (!ok) {
    release();
    fail("already closed");
    error = error_;
    return false;
  }
  committed_ = true;
  return true;
}

}  // namespace tapsim
