#include "png.h"

#include <png.h>  // NOLINT(readability-duplicate-include): libpng's, not ours
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "atomicfile.h"

namespace tapsim {
namespace {

// libpng reports errors by calling back and jumping out; the message waits
// here, in plain storage, because no destructor may be skipped by the jump.
struct PngFailure {
  char message[256] = "";
};

[[noreturn]] void onPngError(png_structp png, png_const_charp message) {
  auto* failure = static_cast<PngFailure*>(png_get_error_ptr(png));
  std::snprintf(failure->message, sizeof failure->message, "%s", message);
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// libpng's struct pair for one direction, freed however the work ends.
enum class Direction { Write, Read };

template <Direction direction>
class PngStructs {
 public:
  explicit PngStructs(PngFailure& failure)
      : png_(direction == Direction::Write
                 ? png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, onPngError, onPngWarning)
                 : png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, onPngError, onPngWarning)),
        info_(png_ ? png_create_info_struct(png_) : nullptr) {}
  ~PngStructs() {
    if (png_ == nullptr) return;
    if constexpr (direction == Direction::Write)
      png_destroy_write_struct(&png_, &info_);
    else
      png_destroy_read_struct(&png_, &info_, nullptr);
  }
  PngStructs(const PngStructs&) = delete;
  PngStructs& operator=(const PngStructs&) = delete;
  bool ready() const { return png_ != nullptr && info_ != nullptr; }
  png_structp png() const { return png_; }
  png_infop info() const { return info_; }

 private:
  png_structp png_;
  png_infop info_;
};
using PngWriteStructs = PngStructs<Direction::Write>;
using PngReadStructs = PngStructs<Direction::Read>;

std::string systemError() { return std::strerror(errno); }

void argbToRgb(std::span<const uint32_t> argb, png_bytep rgb) {
  for (const uint32_t pixel : argb) {
    *rgb++ = static_cast<png_byte>(pixel >> 16);
    *rgb++ = static_cast<png_byte>(pixel >> 8);
    *rgb++ = static_cast<png_byte>(pixel);
  }
}

// libpng's output goes through here into the file; a failed write ends the
// encoding, and the file keeps the OS's reason for it.
void writeToFile(png_structp png, png_bytep data, size_t length) {
  auto* file = static_cast<AtomicFile*>(png_get_io_ptr(png));
  if (!file->write(std::span<const uint8_t>(data, length))) png_error(png, "write failed");
}

void flushNothing(png_structp) {}  // the file is flushed once, on commit

// Only plain values live in the frames that a libpng error can jump across.
bool encodeRows(png_structp png, png_infop info, AtomicFile* file, int32_t width, int32_t height,
                const RowSource& rows, uint32_t* argbRow, png_bytep rgbRow) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_write_fn(png, file, writeToFile, flushNothing);
  // Fastest of the combinations measured on the 21 pages (bench/png_bench.cpp, docs/performance.md).
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < height; ++y) {
    const std::span<uint32_t> row(argbRow, static_cast<size_t>(width));
    rows(y, row);
    argbToRgb(row, rgbRow);
    png_write_row(png, rgbRow);
  }
  png_write_end(png, nullptr);
  return true;
}

// On failure `error` is a whole line: the file's own when a write failed, else libpng's reason.
bool encodeFile(AtomicFile& file, int32_t width, int32_t height, const RowSource& rows, std::string& error) {
  PngFailure failure;
  PngWriteStructs structs(failure);
  if (!structs.ready()) {
    error = "cannot write " + file.target().string() + ": out of memory";
    return false;
  }
  std::vector<uint32_t> argbRow(static_cast<size_t>(width));
  std::vector<png_byte> rgbRow(static_cast<size_t>(width) * 3);
  if (!encodeRows(structs.png(), structs.info(), &file, width, height, rows, argbRow.data(), rgbRow.data())) {
    error = file.error().empty() ? "cannot write " + file.target().string() + ": " + failure.message : file.error();
    return false;
  }
  return true;
}

bool writeFile(const std::filesystem::path& path, int32_t width, int32_t height, const RowSource& rows,
               std::string& error) {
  auto file = AtomicFile::create(path, error);
  return file && encodeFile(*file, width, height, rows, error) && file->commit(error);
}

struct DecodedSize {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  size_t rowBytes = 0;
};

bool decodeHeader(png_structp png, png_infop info, FILE* file, DecodedSize* size) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_init_io(png, file);
  png_set_sig_bytes(png, 8);
  png_set_user_limits(png, 1u << 20, 1u << 20);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  size->width = png_get_image_width(png, info);
  size->height = png_get_image_height(png, info);
  size->rowBytes = png_get_rowbytes(png, info);
  return true;
}

bool decodeRows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

bool hasPngSignature(FILE* file) {
  png_byte signature[8];
  return std::fread(signature, 1, sizeof signature, file) == sizeof signature &&
         png_sig_cmp(signature, 0, sizeof signature) == 0;
}

std::optional<Image> decodeFile(FILE* file, std::string& reason) {
  if (!hasPngSignature(file)) {
    reason = "not a PNG file";
    return std::nullopt;
  }
  PngFailure failure;
  PngReadStructs structs(failure);
  if (!structs.ready()) {
    reason = "out of memory";
    return std::nullopt;
  }
  DecodedSize size;
  if (!decodeHeader(structs.png(), structs.info(), file, &size)) {
    reason = failure.message;
    return std::nullopt;
  }
  if (int64_t{size.width} * size.height > kMaxPngPixels) {
    reason = "picture of " + std::to_string(size.width) + "x" + std::to_string(size.height) + " is too large";
    return std::nullopt;
  }
  if (size.rowBytes != size_t{size.width} * 4) {
    reason = "unsupported pixel layout";
    return std::nullopt;
  }
  std::vector<png_byte> rgba(size.rowBytes * size.height);
  std::vector<png_bytep> rows(size.height);
  for (size_t y = 0; y < rows.size(); ++y) rows[y] = rgba.data() + y * size.rowBytes;
  if (!decodeRows(structs.png(), structs.info(), rows.data())) {
    reason = failure.message;
    return std::nullopt;
  }
  Image image{static_cast<int32_t>(size.width), static_cast<int32_t>(size.height), {}};
  image.argb.resize(size_t{size.width} * size.height);
  for (size_t i = 0; i < image.argb.size(); ++i) {
    const png_byte* p = &rgba[i * 4];
    image.argb[i] = uint32_t{p[3]} << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
  }
  return image;
}

}  // namespace

bool writePng(const std::filesystem::path& path, int32_t width, int32_t height, const RowSource& rows,
              std::string& error) {
  if (width <= 0 || height <= 0) {
    error = "cannot write " + path.string() + ": picture size " + std::to_string(width) + "x" +
            std::to_string(height) + " is empty";
    return false;
  }
  return writeFile(path, width, height, rows, error);
}

bool writePng(const std::filesystem::path& path, std::span<const uint32_t> argb, int32_t width,
              int32_t height, std::string& error) {
  if (width <= 0 || height <= 0 || argb.size() != size_t(width) * size_t(height)) {
    error = "cannot write " + path.string() + ": " + std::to_string(argb.size()) +
            " pixels do not make a picture of " + std::to_string(width) + "x" + std::to_string(height);
    return false;
  }
  const RowSource copyRow = [&](int32_t y, std::span<uint32_t> row) {
    const auto source = argb.subspan(size_t(y) * size_t(width), size_t(width));
    std::copy(source.begin(), source.end(), row.begin());
  };
  return writePng(path, width, height, copyRow, error);
}

bool writePng(AtomicFile& file, std::span<const uint32_t> argb, int32_t width, int32_t height,
              std::string& error) {
  if (width <= 0 || height <= 0 || argb.size() != size_t(width) * size_t(height)) {
    error = "cannot write " + file.target().string() + ": not a picture of " + std::to_string(width) + "x" +
            std::to_string(height);
    return false;
  }
  const RowSource copyRow = [&](int32_t y, std::span<uint32_t> row) {
    const auto source = argb.subspan(size_t(y) * size_t(width), size_t(width));
    std::copy(source.begin(), source.end(), row.begin());
  };
  return encodeFile(file, width, height, copyRow, error) && file.commit(error);
}

std::optional<Image> readPng(const std::filesystem::path& path, std::string& error) {
  std::string reason;
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    reason = systemError();
  } else if (auto image = decodeFile(file.get(), reason)) {
    return image;
  }
  error = "cannot read " + path.string() + ": " + reason;
  return std::nullopt;
}

bool encodePng(AtomicFile& file, int32_t width, int32_t height, const RowSource& rows, std::string& error) {
  return encodeFile(file, width, height, rows, error);
}

}  // namespace tapsim
