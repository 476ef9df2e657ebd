#include "fwdatfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <set>

namespace fwdat {
namespace {

void putLe32(std::span<uint8_t> at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t getLe32(std::span<const uint8_t> at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t{at[i]} << (8 * i);
  return value;
}

uint16_t getLe16(std::span<const uint8_t> at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

Header readHeader(std::span<const uint8_t> bytes) {
  return Header{getLe32(bytes.subspan(0)), getLe32(bytes.subspan(4)), getLe32(bytes.subspan(8)),
                getLe32(bytes.subspan(12)), getLe32(bytes.subspan(16))};
}

ModelRecord readRecord(std::span<const uint8_t> record) {
  return ModelRecord{getLe16(record),
                     static_cast<int32_t>(getLe32(record.subspan(kRemoteTypeOffset)))};
}

std::string hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
  return text;
}

uint32_t byteSwapped(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

void checkHeader(const Header& header, uint64_t fileSize, Contents& out) {
  if (header.magic != kMagic) {
    std::string hint = header.magic == byteSwapped(kMagic) ? " (written big-endian)" : "";
    out.rejections.push_back("bad magic " + hex32(header.magic) + hint + ", expected " +
                             hex32(kMagic));
  }
  if (header.word8 != 0)
    out.rejections.push_back("the word at offset 8 is " + hex32(header.word8) +
                             ", it must be 0");
  const uint64_t needed = kHeaderSize + uint64_t{kRecordSize} * header.recordCount;
  if (needed > fileSize)
    out.rejections.push_back("records past the end of the file: the header counts " + std::to_string(header.recordCount) +
                             " records, which need " + std::to_string(needed) +
                             " bytes, but the file has only " + std::to_string(fileSize) +
                             " bytes");
  if (fileSize > kLargestLoadable)
    out.rejections.push_back("the file has " + std::to_string(fileSize) + " bytes, more than the " +
                             std::to_string(kLargestLoadable) + " (" + std::to_string(kLargestLoadable >> 20) +
                             " MiB) that a receiver's memory gives a module: the module cannot load it");
}

void noteDuplicates(Contents& out) {
  std::set<uint16_t> seen;
  for (size_t i = 0; i < out.records.size(); ++i)
    if (!seen.insert(out.records[i].sysId).second)
      out.notes.push_back("record " + std::to_string(i) + " repeats system id " +
                          std::to_string(out.records[i].sysId) +
                          "; the module uses the first record for it");
}

std::optional<long long> parseInteger(std::string_view text) {
  long long value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
  return value;
}

// Hands out record `index` into the span; false when it cannot be read.
using RecordReader = std::function<bool(size_t index, std::span<uint8_t, kRecordSize> record)>;

// The verdict from the file's size and its first bytes (all of them when
// fewer than a header), reading records only as far as they are shown.
Contents examine(uint64_t fileSize, std::span<const uint8_t> head, const RecordReader& recordAt) {
  Contents out;
  out.fileSize = fileSize;
  if (fileSize == 0) {
    out.rejections.push_back("the file is empty");
    return out;
  }
  if (fileSize < kHeaderSize) {
    out.rejections.push_back("the file has " + std::to_string(fileSize) + " bytes, fewer than the " +
                             std::to_string(kHeaderSize) + "-byte header");
    return out;
  }
  const Header header = readHeader(head);
  out.header = header;
  checkHeader(header, fileSize, out);
  const uint64_t inFile = std::min<uint64_t>(header.recordCount, (fileSize - kHeaderSize) / kRecordSize);
  const auto shown = static_cast<size_t>(std::min<uint64_t>(inFile, kMostRecordsShown));
  std::array<uint8_t, kRecordSize> record{};
  for (size_t i = 0; i < shown && recordAt(i, record); ++i) out.records.push_back(readRecord(record));
  if (inFile == header.recordCount) out.trailingBytes = fileSize - kHeaderSize - kRecordSize * inFile;
  noteDuplicates(out);
  return out;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// False, with errno set (0 for a file that ended early), unless every byte came.
bool readWhole(int fd, uint64_t offset, std::span<uint8_t> into) {
  while (!into.empty()) {
    const ssize_t got = pread(fd, into.data(), into.size(), static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0) errno = 0;
      return false;
    }
    into = into.subspan(static_cast<size_t>(got));
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

constexpr ModelRecord kDefaultModels[] = {
    {22120, 1},  // listed: translated although its remote type is 1
    {22130, 2},  // listed, and remote type 2 as well
    {32030, 1},  // listed
    {42561, 2},  // unlisted, translated because of its remote type
    {12345, 1},  // unlisted, keys pass unchanged
    {40000, 1},  // unlisted, keys pass unchanged
};

}  // namespace

std::vector<uint8_t> build(std::span<const ModelRecord> models) {
  std::vector<uint8_t> bytes(kHeaderSize + kRecordSize * models.size(), 0);
  const std::span<uint8_t> all(bytes);
  putLe32(all.subspan(0), kMagic);
  putLe32(all.subspan(12), static_cast<uint32_t>(models.size()));
  for (size_t i = 0; i < models.size(); ++i) {
    const std::span<uint8_t> record = all.subspan(kHeaderSize + kRecordSize * i, kRecordSize);
    record[0] = static_cast<uint8_t>(models[i].sysId);
    record[1] = static_cast<uint8_t>(models[i].sysId >> 8);
    putLe32(record.subspan(kRemoteTypeOffset), static_cast<uint32_t>(models[i].remoteType));
  }
  return bytes;
}

Contents parse(std::span<const uint8_t> bytes) {
  const auto recordAt = [bytes](size_t index, std::span<uint8_t, kRecordSize> record) {
    const auto from = bytes.subspan(kHeaderSize + kRecordSize * index, kRecordSize);
    std::copy(from.begin(), from.end(), record.begin());
    return true;
  };
  return examine(bytes.size(), bytes.first(std::min(bytes.size(), kHeaderSize)), recordAt);
}

std::optional<Contents> inspectFile(const std::filesystem::path& file, std::string& error) {
  // Without O_NONBLOCK, opening a pipe nobody writes to would wait for ever before the check below.
  const FileDescriptor fd(open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (fd.get() < 0 || fstat(fd.get(), &info) != 0) {
    error = "cannot read " + file.string() + ": " + std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "cannot read " + file.string() + (S_ISDIR(info.st_mode) ? ": is a folder" : ": is not a regular file");
    return std::nullopt;
  }
  int readError = 0;
  const auto readAt = [&](uint64_t offset, std::span<uint8_t> into) {
    if (readError == 0 && !readWhole(fd.get(), offset, into)) readError = errno != 0 ? errno : EIO;
    return readError == 0;
  };
  std::array<uint8_t, kHeaderSize> head{};
  const auto fileSize = static_cast<uint64_t>(info.st_size);
  const std::span<uint8_t> headBytes(head.data(), std::min<uint64_t>(fileSize, kHeaderSize));
  readAt(0, headBytes);
  const auto recordAt = [&](size_t index, std::span<uint8_t, kRecordSize> record) {
    return readAt(kHeaderSize + uint64_t{kRecordSize} * index, record);
  };
  Contents contents = examine(fileSize, headBytes, recordAt);
  if (readError != 0) {
    error = "cannot read " + file.string() + ": " + std::strerror(readError);
    return std::nullopt;
  }
  return contents;
}

std::optional<ModelRecord> parseModelArgument(std::string_view argument, std::string& error) {
  const size_t colon = argument.find(':');
  if (colon == std::string_view::npos) {
    error = "model '" + std::string(argument) + "' is not ID:REMOTE";
    return std::nullopt;
  }
  const auto id = parseInteger(argument.substr(0, colon));
  if (!id || *id < 0 || *id > std::numeric_limits<uint16_t>::max()) {
    error = "system id in '" + std::string(argument) + "' is not a number from 0 to 65535";
    return std::nullopt;
  }
  const auto remote = parseInteger(argument.substr(colon + 1));
  if (!remote || *remote < std::numeric_limits<int32_t>::min() ||
      *remote > std::numeric_limits<int32_t>::max()) {
    error = "remote type in '" + std::string(argument) + "' is not a 32-bit integer";
    return std::nullopt;
  }
  return ModelRecord{static_cast<uint16_t>(*id), static_cast<int32_t>(*remote)};
}

std::span<const ModelRecord> defaultModels() { return kDefaultModels; }

}  // namespace fwdat
