// Files that appear whole or not at all.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tapsim {

// What commit() may do to a file that already has the target's name.
enum class Existing { Replace, Refuse };

// Bytes go to a temporary file beside the target (same folder, a unique hidden
// name); commit() renames it into place, so a symbolic link is replaced itself,
// never written through. Until then the target stays as it was, and a file
// that is never committed is removed. A character device or a pipe (a
// terminal, /dev/null, /dev/full) cannot be swapped and is written straight.
// A failure is one line, "cannot write TARGET: reason", with the OS's reason
// where it gave one. A file that is replaced keeps its permissions; a
// read-only one is refused, since someone meant to keep it.
class AtomicFile {
 public:
  // Nothing, and error set, when the target is a folder or another kind of
  // file that cannot be replaced, or no temporary file can be made beside it.
  static std::optional<AtomicFile> create(const std::filesystem::path& target, std::string& error,
                                          Existing existing = Existing::Replace);
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&& other) noexcept;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  ~AtomicFile();

  // Buffered. False once any write has failed; every later one fails too.
  bool write(std::span<const uint8_t> bytes);
  bool write(std::string_view text);
  // The first failure, as a whole message; empty while all went well.
  const std::string& error() const { return error_; }

  // Writes out the buffer and closes, so that commit() has only the rename
  // left: several files can then be checked first and put in place together.
  bool close(std::string& error);
  // Writes out the buffer, closes and renames into place; on failure the
  // temporary file goes and the target stays as it was.
  bool commit(std::string& error);
  // Drops everything written; the target stays as it was.
  void discard();

  const std::filesystem::path& target() const { return target_; }
  bool committed() const { return committed_; }
  // Other names the replaced file had (hard links): they keep its old bytes.
  unsigned otherNames() const { return otherNames_; }
  // The target is a symbolic link, which the new file replaces; what it led to keeps its bytes.
  bool replacesLink() const { return replacesLink_; }

 private:
  AtomicFile(std::filesystem::path target, std::filesystem::path temporary, int fd, Existing existing);
  bool flushBuffer();
  bool writeAll(std::span<const uint8_t> bytes);
  bool fail(int errorNumber);
  bool fail(std::string_view reason);
  bool closeFile();
  bool moveIntoPlace();
  void release();

  std::filesystem::path target_;
  std::filesystem::path temporary_;  // empty when writing straight to a device or pipe
  int fd_ = -1;
  Existing existing_ = Existing::Replace;
  bool committed_ = false;
  bool closed_ = false;
  unsigned otherNames_ = 0;
  bool replacesLink_ = false;
  std::vector<uint8_t> buffer_;
  std::string error_;
};

}  // namespace tapsim
