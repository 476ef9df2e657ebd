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

namespace fwdat {

inline constexpr uint32_t kMagic = 0x12345678;
inline constexpr size_t kHeaderSize = 20;
inline constexpr size_t kRecordSize = 348;
inline constexpr size_t kRemoteTypeOffset = 320;

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
  size_t fileSize = 0;
  std::optional<Header> header;     // absent when the file is shorter than a header
  std::vector<ModelRecord> records;  // those that lie wholly inside the file
  size_t trailingBytes = 0;          // behind the last counted record
  std::vector<std::string> rejections;  // why the module would refuse the file
  std::vector<std::string> notes;       // harmless oddities

  bool accepted() const { return rejections.empty(); }
};

// A file the module accepts: the header, then one record per model in the
// given order; fields the module does not read are zero.
std::vector<uint8_t> build(std::span<const ModelRecord> models);

// Writes build(models) to the file, replacing it; false when it cannot be written whole.
bool writeFile(const std::filesystem::path& file, std::span<const ModelRecord> models);

// Reads any bytes at all; never reads past the span.
Contents parse(std::span<const uint8_t> bytes);

// "ID:REMOTE", e.g. "22120:1". On failure returns nothing and sets error.
std::optional<ModelRecord> parseModelArgument(std::string_view argument, std::string& error);

// What the simulator's disk carries unless told otherwise: listed models that
// are translated whatever their remote type, and unlisted ones of both types.
std::span<const ModelRecord> defaultModels();

}  // namespace fwdat
