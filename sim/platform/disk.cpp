#include "disk.h"

#include "processes.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

struct TapFile {
  std::unique_ptr<std::ifstream> stream;  // null once closed
  std::string diskPath;
  uint32_t length = 0;
  uint64_t serial = 0;
};

namespace tapsim {
namespace {

// The components a disk path names, ".." and "." applied; none when the path
// is empty, holds a zero byte or climbs above the root.
std::optional<std::vector<std::string>> components(std::string_view path,
                                                   const std::vector<std::string>& current) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  std::vector<std::string> parts;
  if (path.front() != '/') parts = current;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (parts.empty()) return std::nullopt;
      parts.pop_back();
      continue;
    }
    parts.emplace_back(part);
  }
  return parts;
}

bool isWithin(const fs::path& root, const fs::path& candidate) {
  const auto [rootEnd, candidateEnd] = std::mismatch(root.begin(), root.end(), candidate.begin(), candidate.end());
  (void)candidateEnd;
  return rootEnd == root.end();
}

std::vector<std::string> splitRelative(const fs::path& relative) {
  std::vector<std::string> parts;
  for (const fs::path& part : relative) {
    if (part != ".") parts.push_back(part.string());
  }
  return parts;
}

uint32_t clampedLength(const fs::path& file) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(file, error);
  if (error) return 0;
  return static_cast<uint32_t>(std::min<std::uintmax_t>(size, std::numeric_limits<uint32_t>::max()));
}

// The folder's canonical path; throws when it is missing or no folder.
fs::path existingFolder(const fs::path& folder) {
  std::error_code error;
  fs::path canonical = fs::canonical(folder, error);
  if (error) throw std::runtime_error("disk folder " + folder.string() + ": " + error.message());
  if (!fs::is_directory(canonical, error))
    throw std::runtime_error("disk folder " + folder.string() + ": not a directory");
  return canonical;
}

}  // namespace

namespace {

// A run's disk carries its owner's pid and start time in its name, so that a
// later run can remove what a run that was killed outright left behind.
constexpr std::string_view kRunDiskPrefix = "tapsim-disk-";

bool abandoned(const std::string& name) {
  if (!name.starts_with(kRunDiskPrefix)) return false;
  const std::string owner = name.substr(kRunDiskPrefix.size());
  const size_t dot = owner.find('.'), dash = owner.find('-');
  if (dot == std::string::npos || dash == std::string::npos || dash < dot) return false;
  const long pid = std::strtol(owner.c_str(), nullptr, 10);
  return pid > 0 && startTimeOf(static_cast<pid_t>(pid)) != owner.substr(dot + 1, dash - dot - 1);
}

}  // namespace

void DiskFolder::removeAbandoned() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(ec), ec)) {
    if (!abandoned(entry.path().filename().string())) continue;
    std::error_code ignored;
    fs::remove_all(entry.path(), ignored);
  }
}

DiskFolder DiskFolder::createDefault(bool keep) {
  const pid_t self = getpid();
  const std::string name = keep ? "tapsim-kept-disk-XXXXXX"
                                : std::string(kRunDiskPrefix) + std::to_string(self) + "." + startTimeOf(self) +
                                      "-XXXXXX";
  const fs::path pattern = fs::temp_directory_path() / name;
  std::string made = pattern.string();
  if (mkdtemp(made.data()) == nullptr) {
    throw fs::filesystem_error("cannot make a disk folder", pattern, std::error_code(errno, std::generic_category()));
  }
  DiskFolder folder{fs::path(made)};
  if (keep) folder.keep();
  fs::create_directories(folder.path_ / "ProgramFiles" / "Settings");
  return folder;
}

DiskFolder::DiskFolder(DiskFolder&& other) noexcept
    : path_(std::exchange(other.path_, {})), kept_(other.kept_) {}

DiskFolder& DiskFolder::operator=(DiskFolder&& other) noexcept {
  if (this != &other) {
    remove();
    path_ = std::exchange(other.path_, {});
    kept_ = other.kept_;
  }
  return *this;
}

DiskFolder::~DiskFolder() { remove(); }

void DiskFolder::remove() noexcept {
  if (path_.empty() || kept_) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

VirtualDisk::VirtualDisk(const fs::path& root) : root_(existingFolder(root)) {}

VirtualDisk::~VirtualDisk() = default;

// The host path a disk path leads to, links followed, when it exists and stays under the root.
std::optional<fs::path> VirtualDisk::resolve(std::string_view path) const {
  const auto parts = components(path, current_);
  if (!parts) return std::nullopt;
  fs::path host = root_;
  for (const std::string& part : *parts) host /= part;
  std::error_code error;
  fs::path resolved = fs::canonical(host, error);
  if (error || !isWithin(root_, resolved)) return std::nullopt;
  return resolved;
}

std::string VirtualDisk::diskPathOf(const fs::path& hostPath) const {
  std::string disk;
  for (const std::string& part : splitRelative(hostPath.lexically_relative(root_))) disk += "/" + part;
  return disk.empty() ? "/" : disk;
}

uint32_t VirtualDisk::changeDir(std::string_view path) {
  const auto target = resolve(path);
  std::error_code error;
  if (!target || !fs::is_directory(*target, error)) return failure_;
  current_ = splitRelative(target->lexically_relative(root_));
  return success_;
}

void VirtualDisk::setChangeDirResults(uint32_t success, uint32_t failure) {
  success_ = success;
  failure_ = failure;
}

std::string VirtualDisk::currentDir() const {
  std::string disk;
  for (const std::string& part : current_) disk += "/" + part;
  return disk.empty() ? "/" : disk;
}

bool VirtualDisk::exists(std::string_view name) const {
  const auto target = resolve(name);
  if (!target) return false;
  std::error_code error;
  const fs::file_status status = fs::status(*target, error);
  return !error && (fs::is_regular_file(status) || fs::is_directory(status));
}

TapFile* VirtualDisk::open(std::string_view name) {
  const auto target = resolve(name);
  std::error_code error;
  if (!target || !fs::is_regular_file(*target, error)) return nullptr;
  if (openCount_ >= kMostOpenFiles) {
    ++refusedOpens_;
    return nullptr;
  }
  auto stream = std::make_unique<std::ifstream>(*target, std::ios::binary);
  if (!stream->is_open()) return nullptr;
  auto file = std::make_unique<TapFile>();
  file->stream = std::move(stream);
  file->diskPath = diskPathOf(*target);
  file->length = clampedLength(*target);
  file->serial = ++opened_;
  TapFile* handle = file.get();
  files_.emplace(handle, std::move(file));
  ++openCount_;
  return handle;
}

TapFile* VirtualDisk::findOpen(const TapFile* file) const {
  const auto found = files_.find(file);
  if (found == files_.end() || found->second->stream == nullptr) return nullptr;
  return found->second.get();
}

uint32_t VirtualDisk::length(const TapFile* file) const {
  const TapFile* open = findOpen(file);
  return open != nullptr ? open->length : 0;
}

uint32_t VirtualDisk::read(void* buffer, uint32_t blockSize, uint32_t count, TapFile* file) {
  TapFile* open = findOpen(file);
  if (open == nullptr || buffer == nullptr || blockSize == 0 || count == 0) return 0;
  const uint64_t wanted = uint64_t{blockSize} * count;
  // The receiver's addresses are 32 bits wide: no buffer there holds more.
  if (wanted > std::numeric_limits<uint32_t>::max()) return 0;
  std::ifstream& stream = *open->stream;
  stream.read(static_cast<char*>(buffer), static_cast<std::streamsize>(wanted));
  const auto got = static_cast<uint64_t>(stream.gcount());
  stream.clear();  // a short read must not stop the next one
  return static_cast<uint32_t>(got / blockSize);
}

uint64_t VirtualDisk::remaining(TapFile* file) {
  TapFile* open = findOpen(file);
  if (open == nullptr) return 0;
  std::ifstream& stream = *open->stream;
  const auto at = stream.tellg();
  stream.seekg(0, std::ios::end);
  const auto end = stream.tellg();
  stream.seekg(at);
  stream.clear();
  return at >= 0 && end > at ? static_cast<uint64_t>(end - at) : 0;
}

void VirtualDisk::skip(TapFile* file, uint64_t bytes) {
  TapFile* open = findOpen(file);
  if (open == nullptr || bytes == 0) return;
  open->stream->seekg(static_cast<std::streamoff>(bytes), std::ios::cur);
  open->stream->clear();
}

bool VirtualDisk::close(TapFile* file) {
  TapFile* open = findOpen(file);
  if (open == nullptr) return false;
  open->stream.reset();
  --openCount_;
  return true;
}

std::vector<std::string> VirtualDisk::openFilePaths() const {
  std::vector<const TapFile*> open;
  for (const auto& [handle, file] : files_) {
    if (file->stream != nullptr) open.push_back(file.get());
  }
  std::sort(open.begin(), open.end(), [](const TapFile* a, const TapFile* b) { return a->serial < b->serial; });
  std::vector<std::string> paths;
  paths.reserve(open.size());
  for (const TapFile* file : open) paths.push_back(file->diskPath);
  return paths;
}

}  // namespace tapsim
