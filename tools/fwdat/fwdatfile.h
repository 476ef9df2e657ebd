// The firmware database file ("FirmwareTMS.dat"): building one from model
// records, and reading one back with the reasons the module would refuse it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/platform/receivermemory.h"

namespace fwdat {

inline constexpr uint32_t kMagic = 0x12345678;
inline constexpr size_t kHeaderSize = 20;
inline constexpr size_t kRecordSize = 348;
inline constexpr size_t kRemoteTypeOffset = 320;
// The module reads the file whole into one block of the receiver's memory.
inline constexpr uint64_t kLargestLoadable = tapsim::kReceiverMemoryLimit;
// No more records than a loadable file can hold are read or shown.
inline constexpr size_t kMostRecordsShown = (kLargestLoadable - kHeaderSize) / kRecordSize;

struct ModelRecord {
  uint16_t sysId = 0;
  int32_t remoteType = 0;
  friend bool operator==(const ModelRecord&, const ModelRecord&) = default;
};

struct Header {
  uint32_t magic = 0;
  uint32_t word4 = 0;
  uint32_t word8 = 0;
  uint32_t recordCount = 0;
  uint32_t word16 = 0;
};

struct Contents {
  uint64_t fileSize = 0;
  std::optional<Header> header;     // absent when the file is shorter than a header
  std::vector<ModelRecord> records;  // those that lie wholly inside the file, kMostRecordsShown at most
  uint64_t trailingBytes = 0;        // behind the last counted record
  std::vector<std::string> rejections;  // why the module would refuse the file
  std::vector<std::string> notes;       // harmless oddities

  bool accepted() const { return rejections.empty(); }
};

// A file the module accepts: the header, then one record per model in the
// given order; fields the module does not read are zero.
std::vector<uint8_t> build(std::span<const ModelRecord> models);

// Writes build(models) to the file whole or not at all (a temporary file
// beside it, renamed into place; a symbolic link is replaced, not written
// through). On failure returns false, sets error to one line with the OS's
// reason, and an earlier file stays as it was. With `replace` false an
// existing file is not replaced.
bool writeFile(const std::filesystem::path& file, std::span<const ModelRecord> models, std::string& error,
               bool replace = true);
bool writeFile(const std::filesystem::path& file, std::span<const ModelRecord> models);

// Reads any bytes at all; never reads past the span.
Contents parse(std::span<const uint8_t> bytes);

// The same for a file of any size, reading only its header and the records
// in `records`; nothing, and error set with the OS's reason, when it cannot be read.
std::optional<Contents> inspectFile(const std::filesystem::path& file, std::string& error);

// "ID:REMOTE", e.g. "22120:1". On failure returns nothing and sets error.
std::optional<ModelRecord> parseModelArgument(std::string_view argument, std::string& error);

// What the simulator's disk carries unless told otherwise: listed models that
// are translated whatever their remote type, and unlisted ones of both types.
std::span<const ModelRecord> defaultModels();

}  // namespace fwdat
