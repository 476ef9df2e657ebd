#pragma once
// The receiver's disk: a host folder seen as the disk's root, with a current
// directory and the files the module opens. Nothing outside the root can be
// reached, neither by ".." nor through a symbolic link.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../../frame/tap.h"

namespace tapsim {

// A fresh disk folder for one run: ProgramFiles/ and ProgramFiles/Settings/ in
// a unique temporary folder, removed with its owner unless kept.
class DiskFolder {
 public:
  // Throws std::filesystem::filesystem_error when the folder cannot be made.
  // A kept folder is never taken for one a killed run left behind.
  static DiskFolder createDefault(bool keep = false);
  // Removes the fresh disks of runs that were killed before they could.
  static void removeAbandoned();

  DiskFolder(DiskFolder&& other) noexcept;
  DiskFolder& operator=(DiskFolder&& other) noexcept;
  DiskFolder(const DiskFolder&) = delete;
  DiskFolder& operator=(const DiskFolder&) = delete;
  ~DiskFolder();

  const std::filesystem::path& path() const { return path_; }
  // Leave the folder behind for the user to look at.
  void keep() { kept_ = true; }
  bool kept() const { return kept_; }

 private:
  explicit DiskFolder(std::filesystem::path path) : path_(std::move(path)) {}
  void remove() noexcept;
  std::filesystem::path path_;
  bool kept_ = false;
};

class VirtualDisk {
 public:
  // The current directory starts at the root. Throws std::runtime_error when
  // root is not an existing directory.
  explicit VirtualDisk(const std::filesystem::path& root);
  ~VirtualDisk();
  VirtualDisk(const VirtualDisk&) = delete;
  VirtualDisk& operator=(const VirtualDisk&) = delete;

  // Absolute ("/ProgramFiles") or relative to the current directory. Returns
  // the success value, or the failure value with the current directory unchanged.
  uint32_t changeDir(std::string_view path);
  void setChangeDirResults(uint32_t success, uint32_t failure);
  uint32_t changeDirSuccess() const { return success_; }
  uint32_t changeDirFailure() const { return failure_; }

  // The current directory as a disk path: "/" or "/ProgramFiles/Settings".
  std::string currentDir() const;
  // The disk's root on the host, with symbolic links resolved.
  const std::filesystem::path& root() const { return root_; }

  // A regular file or directory of that name, taken like a change of directory.
  bool exists(std::string_view name) const;

  // At most this many files are open at once, as on a receiver; the module's
  // opens cannot take the descriptors the host needs for itself.
  static constexpr std::size_t kMostOpenFiles = 64;

  // Null when the name is missing, not a regular file, outside the root or
  // unreadable, or when kMostOpenFiles are open already.
  TapFile* open(std::string_view name);
  // 0 for a handle this disk did not give out or has closed; longer files report 0xFFFFFFFF.
  uint32_t length(const TapFile* file) const;
  // Reads blockSize * count bytes at the file's position, never more, and
  // returns how many whole blocks were read: count when all were, 0 for an
  // unknown handle or a request too big to count.
  uint32_t read(void* buffer, uint32_t blockSize, uint32_t count, TapFile* file);
  // The bytes from the file's position to its end; 0 for an unknown handle.
  uint64_t remaining(TapFile* file);
  // Moves the position on by `bytes`, as a read that copied nothing would.
  void skip(TapFile* file, uint64_t bytes);
  // Unknown or already closed handles are ignored; returns whether one was closed.
  bool close(TapFile* file);

  std::size_t openFiles() const { return openCount_; }
  uint64_t refusedOpens() const { return refusedOpens_; }
  // Disk paths of the files still open, in the order they were opened.
  std::vector<std::string> openFilePaths() const;

 private:
  std::optional<std::filesystem::path> resolve(std::string_view path) const;
  std::string diskPathOf(const std::filesystem::path& hostPath) const;
  TapFile* findOpen(const TapFile* file) const;

  std::filesystem::path root_;
  std::vector<std::string> current_;  // components below the root
  uint32_t success_ = 1;
  uint32_t failure_ = 0;
  // Every handle ever given out stays here, closed ones included, so that no
  // later file can take a closed handle's address.
  std::map<const TapFile*, std::unique_ptr<TapFile>> files_;
  uint64_t opened_ = 0;
  std::size_t openCount_ = 0;
  uint64_t refusedOpens_ = 0;
};

}  // namespace tapsim
