#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "atomicfile.h"
#include "image.h"

namespace tapsim {

// Fills one row (width ARGB words) of a picture; asked for rows 0, 1, 2... in order.
using RowSource = std::function<void(int32_t y, std::span<uint32_t> row)>;

// Writes an 8-bit RGB PNG (alpha is dropped) without time stamps, so the same
// picture gives the same file. The file appears whole or not at all
// (AtomicFile): on failure returns false, sets error to one line, and an
// earlier file of that name stays as it was.
bool writePng(const std::filesystem::path& path, std::span<const uint32_t> argb, int32_t width,
              int32_t height, std::string& error);
bool writePng(const std::filesystem::path& path, int32_t width, int32_t height, const RowSource& rows,
              std::string& error);
// Into a file already made, which the caller commits (or drops).
bool encodePng(AtomicFile& file, int32_t width, int32_t height, const RowSource& rows, std::string& error);
// The same into a file already made, which is committed when all went well.
bool writePng(AtomicFile& file, std::span<const uint32_t> argb, int32_t width, int32_t height,
              std::string& error);

// Reads any PNG into ARGB (alpha 0xFF where the file has none). Files of more
// than kMaxPngPixels pixels are refused.
inline constexpr int64_t kMaxPngPixels = int64_t{1} << 26;
std::optional<Image> readPng(const std::filesystem::path& path, std::string& error);

}  // namespace tapsim
