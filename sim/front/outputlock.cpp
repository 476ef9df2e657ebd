#include "outputlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace tapsim {
namespace {

namespace fs = std::filesystem;

bool isStream(const fs::path& target) {
  struct stat info {};
  return stat(target.c_str(), &info) == 0 && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode));
}

// Beside the target as its folder resolves, so that two spellings of one place share the lock.
fs::path lockFileOf(const fs::path& target) {
  fs::path name = target;
  while (name.has_relative_path() && name.filename().empty()) name = name.parent_path();
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(fs::absolute(name, ec).parent_path(), ec);
  return folder / ("." + name.filename().string() + ".tapsim-lock");
}

std::string holderOf(int fd) {
  char text[24] = {};
  const ssize_t got = pread(fd, text, sizeof text - 1, 0);
  return got > 0 ? " (pid " + std::string(text, static_cast<size_t>(got)) + ")" : "";
}

// The lock file may have been removed by the run that held it between our
// open and our lock; the lock then guards nothing and is taken again.
bool stillInPlace(int fd, const fs::path& file) {
  struct stat held {}, named {};
  return fstat(fd, &held) == 0 && stat(file.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
         held.st_dev == named.st_dev;
}

}  // namespace

std::optional<OutputLock> OutputLock::take(std::string_view role, const fs::path& target, std::string& error) {
  if (isStream(target)) return OutputLock({}, -1);
  const fs::path file = lockFileOf(target);
  for (;;) {
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      error = "cannot write " + target.string() + ": " +
              (errno == ENOENT ? "no folder " + file.parent_path().string() : std::strerror(errno));
      return std::nullopt;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      error = std::string(role) + " " + target.string() + " is being written by another tapsim run" + holderOf(fd) +
              "; two runs would mix their outputs";
      close(fd);
      return std::nullopt;
    }
    if (stillInPlace(fd, file)) {
      const std::string pid = std::to_string(getpid());
      // The pid only helps another run's message: a failure here is no reason to stop.
      [[maybe_unused]] const bool noted = ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) > 0;
      return OutputLock(file, fd);
    }
    close(fd);
  }
}

OutputLock::OutputLock(OutputLock&& other) noexcept
    : file_(std::move(other.file_)), fd_(std::exchange(other.fd_, -1)) {}

// Removed while still held, so that no other run can take the name's old file for a lock.
OutputLock::~OutputLock() {
  if (fd_ < 0) return;
  unlink(file_.c_str());
  close(fd_);
}

}  // namespace tapsim
