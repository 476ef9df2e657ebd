#include "front/png.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "temp_dir.h"

namespace tapsim {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Every byte value in every channel, alpha varying too.
std::vector<uint32_t> noise(size_t count, uint32_t seed) {
  std::vector<uint32_t> pixels(count);
  uint32_t state = seed;
  for (uint32_t& pixel : pixels) {
    state = state * 1664525u + 1013904223u;
    pixel = state ^ (state >> 13);
  }
  return pixels;
}

uint32_t readBigEndian(const Bytes& bytes, size_t at) {
  return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

bool containsChunk(const Bytes& file, std::string_view type) {
  for (size_t at = 8; at + 8 <= file.size();) {
    if (std::string_view(reinterpret_cast<const char*>(&file[at + 4]), 4) == type) return true;
    at += 12 + readBigEndian(file, at);
  }
  return false;
}

TEST(Png, RoundTripKeepsEveryRgbValueAndDropsAlpha) {
  TempDir dir;
  constexpr int32_t width = 97, height = 61;
  const auto frame = noise(size_t(width) * height, 7);
  std::string error;
  ASSERT_TRUE(writePng(dir / "a.png", frame, width, height, error)) << error;
  const auto image = readPng(dir / "a.png", error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->width, width);
  EXPECT_EQ(image->height, height);
  ASSERT_EQ(image->argb.size(), frame.size());
  for (size_t i = 0; i < frame.size(); ++i) ASSERT_EQ(image->argb[i], frame[i] | 0xFF000000u) << "pixel " << i;
}

TEST(Png, FileIsEightBitRgbWithoutTimeStamp) {
  TempDir dir;
  const auto frame = noise(720 * 576, 3);
  std::string error;
  ASSERT_TRUE(writePng(dir / "a.png", frame, 720, 576, error)) << error;
  const Bytes file = readBytes(dir / "a.png");
  ASSERT_GT(file.size(), 33u);
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(&file[12]), 4), "IHDR");
  EXPECT_EQ(readBigEndian(file, 16), 720u);
  EXPECT_EQ(readBigEndian(file, 20), 576u);
  EXPECT_EQ(file[24], 8) << "bit depth";
  EXPECT_EQ(file[25], 2) << "colour type RGB";
  EXPECT_TRUE(containsChunk(file, "IEND"));
  EXPECT_FALSE(containsChunk(file, "tIME"));
}

TEST(Png, SamePictureWrittenTwiceGivesIdenticalFiles) {
  TempDir dir;
  const auto frame = noise(64 * 48, 11);
  std::string error;
  ASSERT_TRUE(writePng(dir / "a.png", frame, 64, 48, error)) << error;
  ASSERT_TRUE(writePng(dir / "b.png", frame, 64, 48, error)) << error;
  EXPECT_EQ(readBytes(dir / "a.png"), readBytes(dir / "b.png"));
}

TEST(Png, RowSourceIsAskedForEveryRowInOrder) {
  TempDir dir;
  std::vector<int32_t> asked;
  const RowSource rows = [&](int32_t y, std::span<uint32_t> row) {
    asked.push_back(y);
    ASSERT_EQ(row.size(), 5u);
    for (size_t x = 0; x < row.size(); ++x) row[x] = 0xFF000000u | uint32_t(y) << 8 | uint32_t(x);
  };
  std::string error;
  ASSERT_TRUE(writePng(dir / "a.png", 5, 4, rows, error)) << error;
  EXPECT_EQ(asked, (std::vector<int32_t>{0, 1, 2, 3}));
  const auto image = readPng(dir / "a.png", error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->argb[2 * 5 + 3], 0xFF000203u);
}

TEST(Png, MissingFolderIsReportedWithThePath) {
  TempDir dir;
  const auto path = dir / "no-such-folder/a.png";
  std::string error;
  EXPECT_FALSE(writePng(path, noise(4, 1), 2, 2, error));
  EXPECT_NE(error.find(path.string()), std::string::npos) << error;
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

TEST(Png, PixelCountNotMatchingTheSizeIsRefusedWithoutAFile) {
  TempDir dir;
  std::string error;
  EXPECT_FALSE(writePng(dir / "a.png", noise(11, 1), 3, 4, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(writePng(dir / "b.png", noise(0, 1), 0, 0, error));
  EXPECT_FALSE(std::filesystem::exists(dir / "a.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "b.png"));
}

TEST(Png, EncoderErrorIsReportedAndLeavesNoFile) {
  TempDir dir;
  const RowSource blank = [](int32_t, std::span<uint32_t> row) { std::fill(row.begin(), row.end(), 0); };
  std::string error;
  // Wider than the encoder accepts: it fails inside the encoder, which must not crash.
  EXPECT_FALSE(writePng(dir / "wide.png", 2'000'000, 1, blank, error));
  EXPECT_NE(error.find("wide.png"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir / "wide.png"));
}

// A file size limit stands in for a full disk.
bool failsAndCleansUpWhenTheDiskIsFull(const std::filesystem::path& path) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{4096, 4096};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  std::string error;
  const bool written = writePng(path, noise(720 * 576, 5), 720, 576, error);
  return !written && error.find(path.string()) != std::string::npos && !std::filesystem::exists(path);
}

TEST(Png, FullDiskIsReportedAsFailureAndLeavesNoFile) {
  TempDir dir;
  // The limit stays with the child that the death test forks.
  EXPECT_EXIT(std::exit(failsAndCleansUpWhenTheDiskIsFull(dir / "full.png") ? 0 : 1), testing::ExitedWithCode(0), "");
}

class PngReader : public testing::Test {
 protected:
  Bytes validFile(int32_t width, int32_t height) {
    std::string error;
    EXPECT_TRUE(writePng(dir_ / "valid.png", noise(size_t(width) * height, 9), width, height, error)) << error;
    return readBytes(dir_ / "valid.png");
  }
  std::optional<Image> readBack(const Bytes& bytes, std::string& error) {
    writeBytes(dir_ / "input.png", bytes);
    return readPng(dir_ / "input.png", error);
  }
  TempDir dir_;
};

TEST_F(PngReader, TextFileIsNotAPng) {
  std::string error;
  EXPECT_FALSE(readBack(Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}, error));
  EXPECT_NE(error.find("not a PNG file"), std::string::npos) << error;
}

TEST_F(PngReader, MissingFileIsReported) {
  std::string error;
  EXPECT_FALSE(readPng(dir_ / "absent.png", error));
  EXPECT_NE(error.find("absent.png"), std::string::npos) << error;
}

TEST_F(PngReader, EveryTruncationIsAnErrorNotACrash) {
  const Bytes file = validFile(16, 16);
  for (size_t length = 0; length < file.size(); length += 7) {
    std::string error;
    EXPECT_FALSE(readBack(Bytes(file.begin(), file.begin() + std::ptrdiff_t(length)), error)) << length;
    EXPECT_FALSE(error.empty());
  }
}

TEST_F(PngReader, CorruptedBytesNeverCrash) {
  const Bytes file = validFile(16, 16);
  for (size_t at = 8; at < file.size(); ++at) {
    Bytes damaged = file;
    damaged[at] ^= 0x5A;
    std::string error;
    const auto image = readBack(damaged, error);
    if (!image) {
      EXPECT_FALSE(error.empty()) << at;
    }
  }
}

TEST_F(PngReader, HugeDeclaredSizeIsRefusedBeforeAllocating) {
  Bytes file = validFile(1, 1);
  for (size_t i = 0; i < 4; ++i) {
    file[16 + i] = i == 2 ? 0xEA : 0;  // width 59904
    file[20 + i] = i == 2 ? 0xEA : 0;  // height 59904
  }
  const uLong crc = crc32(0, &file[12], 17);
  for (size_t i = 0; i < 4; ++i) file[29 + i] = static_cast<unsigned char>(crc >> (24 - 8 * i));
  std::string error;
  EXPECT_FALSE(readBack(file, error));
  EXPECT_NE(error.find("too large"), std::string::npos) << error;
}

}  // namespace
}  // namespace tapsim
