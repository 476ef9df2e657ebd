// tapsim-screendiff: shows where two screens differ, for a screen test that
// failed: a picture of the actual screen, dimmed, with every pixel that is not
// as expected in full red.
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "front/png.h"
#include "quarnel_version.h"

namespace {

constexpr std::string_view kUsage =
    "usage: tapsim-screendiff EXPECTED.png ACTUAL.png DIFF.png\n"
    "\n"
    "Compares two screens (PNG files of the same size, such as tapsim's snapshots)\n"
    "and writes DIFF.png: the actual screen dimmed to a third, with every pixel\n"
    "that differs from the expected one in full red. Prints how many pixels\n"
    "differ and where the first one is.\n"
    "\n"
    "  --help     show this text\n"
    "  --version  print tapsim-screendiff's version\n"
    "\n"
    "Exit status: 0 the screens are the same, 1 they differ (DIFF.png written),\n"
    "2 bad usage, a file that cannot be read or written, or screens of different sizes.\n";

constexpr uint32_t kMarked = 0xFFFF0000u;

uint32_t dimmed(uint32_t argb) {
  const uint32_t r = (argb >> 16 & 0xFF) / 3, g = (argb >> 8 & 0xFF) / 3, b = (argb & 0xFF) / 3;
  return 0xFF000000u | r << 16 | g << 8 | b;
}

struct Difference {
  std::vector<uint32_t> picture;
  size_t count = 0;
  size_t first = 0;
};

// Alpha is not compared: PNG snapshots carry none.
Difference compare(const tapsim::Image& expected, const tapsim::Image& actual) {
  Difference d;
  d.picture.resize(actual.argb.size());
  for (size_t i = 0; i < actual.argb.size(); ++i) {
    const bool same = ((expected.argb[i] ^ actual.argb[i]) & 0xFFFFFFu) == 0;
    d.picture[i] = same ? dimmed(actual.argb[i]) : kMarked;
    if (!same && d.count++ == 0) d.first = i;
  }
  return d;
}

int fail(const std::string& why) {
  std::cerr << "tapsim-screendiff: " << why << '\n';
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "tapsim-screendiff " << QUARNEL_VERSION << '\n';
      return 0;
    }
    if (arg.starts_with("-")) return fail("unknown option " + std::string(arg) + " (try --help)");
    files.push_back(arg);
  }
  if (files.size() != 3) return fail("needs EXPECTED.png ACTUAL.png DIFF.png (try --help)");
  std::string error;
  const auto expected = tapsim::readPng(files[0], error);
  if (!expected) return fail(error);
  const auto actual = tapsim::readPng(files[1], error);
  if (!actual) return fail(error);
  if (expected->width != actual->width || expected->height != actual->height)
    return fail(std::string(files[0]) + " is " + std::to_string(expected->width) + "x" +
                std::to_string(expected->height) + ", " + std::string(files[1]) + " is " +
                std::to_string(actual->width) + "x" + std::to_string(actual->height));
  const Difference d = compare(*expected, *actual);
  if (d.count == 0) {
    std::cout << "the screens are the same\n";
    return 0;
  }
  if (!tapsim::writePng(files[2], d.picture, actual->width, actual->height, error)) return fail(error);
  const size_t width = static_cast<size_t>(actual->width);
  std::cout << d.count << " of " << d.picture.size() << " pixels differ, the first at x " << d.first % width
            << ", y " << d.first / width << "\n";
  return 1;
}
