#include "fwdatfile.h"

#include <charconv>
#include <cstdio>
#include <fstream>
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

void checkHeader(const Header& header, size_t fileSize, Contents& out) {
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
  Contents out;
  out.fileSize = bytes.size();
  if (bytes.empty()) {
    out.rejections.push_back("the file is empty");
    return out;
  }
  if (bytes.size() < kHeaderSize) {
    out.rejections.push_back("the file has " + std::to_string(bytes.size()) +
                             " bytes, fewer than the " + std::to_string(kHeaderSize) +
                             "-byte header");
    return out;
  }
  const Header header = readHeader(bytes);
  out.header = header;
  checkHeader(header, bytes.size(), out);
  const size_t room = (bytes.size() - kHeaderSize) / kRecordSize;
  const size_t shown = header.recordCount < room ? header.recordCount : room;
  for (size_t i = 0; i < shown; ++i)
    out.records.push_back(readRecord(bytes.subspan(kHeaderSize + kRecordSize * i, kRecordSize)));
  if (shown == header.recordCount)
    out.trailingBytes = bytes.size() - kHeaderSize - kRecordSize * shown;
  noteDuplicates(out);
  return out;
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

bool writeFile(const std::filesystem::path& file, std::span<const ModelRecord> models) {
  const std::vector<uint8_t> bytes = build(models);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace fwdat
