// PNG snapshots of the real 21 pages: which libpng filter and zlib strategy
// and level write them fastest, and how large the files get. The pages come
// from the module itself, run as the firmware runs it; each combination
// encodes all 21 into memory, and the shipped writer writes them to files.
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "../frame/tap.h"
#include "firmware_session.h"
#include "front/png.h"

namespace quarnel::bench {
namespace {

constexpr int kPageCount = 21;
using tapsim::Frame;
using tapsim::kScreenHeight;
using tapsim::kScreenWidth;

std::vector<Frame> pages;

// The 21 pages as the main job sees them: the first screen, then `next` twenty times.
std::vector<Frame> renderPages() {
  FirmwareSession firmware(builtModule());
  std::vector<Frame> shown;
  firmware.onFrame = [&shown](const Frame& frame) { shown.push_back(frame); };
  firmware.run([&firmware] {
    for (int i = 1; i < kPageCount; ++i) firmware.press(TAP_KEY_NEXT_PAGE);
  });
  if (shown.size() != kPageCount)
    throw std::runtime_error("the module synced " + std::to_string(shown.size()) + " screens, not 21");
  return shown;
}

struct Compression {
  int filters;
  int strategy;
  int level;
};

struct PngInMemory {
  std::vector<png_byte> bytes;
  char error[256] = "";
};

void append(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<PngInMemory*>(png_get_io_ptr(png));
  out->bytes.insert(out->bytes.end(), data, data + size);
}

void flushNothing(png_structp) {}

[[noreturn]] void onError(png_structp png, png_const_charp message) {
  auto* out = static_cast<PngInMemory*>(png_get_error_ptr(png));
  std::snprintf(out->error, sizeof out->error, "%s", message);
  png_longjmp(png, 1);
}

// The same pixels as the shipped writer: 8-bit RGB rows from ARGB words.
bool encodeRows(png_structp png, png_infop info, std::span<const uint32_t> argb, png_bytep rgbRow,
                Compression compression) {
  if (setjmp(png_jmpbuf(png)) != 0) return false;
  png_set_filter(png, PNG_FILTER_TYPE_BASE, compression.filters);
  png_set_compression_strategy(png, compression.strategy);
  png_set_compression_level(png, compression.level);
  png_set_IHDR(png, info, kScreenWidth, kScreenHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < kScreenHeight; ++y) {
    png_bytep rgb = rgbRow;
    for (const uint32_t pixel : argb.subspan(size_t(y) * kScreenWidth, kScreenWidth)) {
      *rgb++ = static_cast<png_byte>(pixel >> 16);
      *rgb++ = static_cast<png_byte>(pixel >> 8);
      *rgb++ = static_cast<png_byte>(pixel);
    }
    png_write_row(png, rgbRow);
  }
  png_write_end(png, nullptr);
  return true;
}

size_t encodedSize(const Frame& frame, Compression compression, std::vector<png_byte>& rgbRow) {
  PngInMemory out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &out, onError, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool written = false;
  if (info != nullptr) {
    png_set_write_fn(png, &out, append, flushNothing);
    written = encodeRows(png, info, frame, rgbRow.data(), compression);
  }
  png_destroy_write_struct(&png, &info);
  if (!written) throw std::runtime_error(std::string("libpng: ") + out.error);
  return out.bytes.size();
}

void setPageCounters(benchmark::State& state, size_t bytes) {
  state.counters["bytes_per_page"] = static_cast<double>(bytes) / kPageCount;
  state.counters["s_per_page"] = benchmark::Counter(
      kPageCount, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void encodeAllPages(benchmark::State& state, Compression compression) {
  std::vector<png_byte> rgbRow(size_t{kScreenWidth} * 3);
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (const Frame& page : pages) bytes += encodedSize(page, compression, rgbRow);
  }
  setPageCounters(state, bytes);
}

// What tapsim ships: writePng to a file, as --snapshots does.
void shippedWriter(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / ("quarnel-png-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  size_t bytes = 0;
  std::string error;
  for (auto _ : state) {
    bytes = 0;
    for (int i = 0; i < kPageCount; ++i) {
      const auto file = dir / ("page" + std::to_string(i + 1) + ".png");
      if (!tapsim::writePng(file, pages[size_t(i)], kScreenWidth, kScreenHeight, error)) {
        state.SkipWithError(error.c_str());
        break;
      }
      bytes += std::filesystem::file_size(file);
    }
  }
  std::filesystem::remove_all(dir);
  setPageCounters(state, bytes);
}

struct Named {
  const char* name;
  int value;
};

constexpr Named kFilters[] = {{"none", PNG_FILTER_NONE}, {"sub", PNG_FILTER_SUB},   {"up", PNG_FILTER_UP},
                              {"avg", PNG_FILTER_AVG},   {"paeth", PNG_FILTER_PAETH}, {"all", PNG_ALL_FILTERS}};
constexpr Named kStrategies[] = {
    {"default", Z_DEFAULT_STRATEGY}, {"filtered", Z_FILTERED}, {"rle", Z_RLE}, {"huffman", Z_HUFFMAN_ONLY}};
constexpr int kLevels[] = {1, 3, 6, 9};

void registerCombinations() {
  for (const Named& filter : kFilters)
    for (const Named& strategy : kStrategies)
      for (const int level : kLevels) {
        // Huffman coding alone has no matches to search for: the level changes nothing.
        if (strategy.value == Z_HUFFMAN_ONLY && level != 1) continue;
        const std::string name =
            std::string("encode/filter:") + filter.name + "/strategy:" + strategy.name + "/level:" + std::to_string(level);
        const Compression compression{filter.value, strategy.value, level};
        benchmark::RegisterBenchmark(name.c_str(), encodeAllPages, compression)->Unit(benchmark::kMillisecond);
      }
  benchmark::RegisterBenchmark("shipped/writePng", shippedWriter)->Unit(benchmark::kMillisecond);
}

}  // namespace
}  // namespace quarnel::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  try {
    quarnel::bench::pages = quarnel::bench::renderPages();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "png_bench: %s\n", e.what());
    return 1;
  }
  quarnel::bench::registerCombinations();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
