// Screens encoded beside the run: each file whole and right, in any order of
// finishing, and nothing more written once one has failed.
#include "front/snapshotwriter.h"

#include <gtest/gtest.h>

#include "front/png.h"
#include "temp_dir.h"

namespace tapsim {
namespace {

constexpr int32_t kWidth = 64, kHeight = 48;

std::vector<uint32_t> screenOf(uint32_t colour) {
  return std::vector<uint32_t>(static_cast<size_t>(kWidth) * kHeight, colour);
}

TEST(SnapshotWriter, EveryQueuedScreenArrivesWholeWithItsOwnPixels) {
  TempDir dir;
  std::string error;
  {
    SnapshotWriter writer(kWidth, kHeight, 2);
    for (uint32_t n = 0; n < 9; ++n) {
      auto file = AtomicFile::create(dir / ("s" + std::to_string(n) + ".png"), error);
      ASSERT_TRUE(file) << error;
      writer.add(std::move(*file), screenOf(0xFF000000u | n * 0x111111u));
    }
    EXPECT_EQ(writer.finish(), "");
  }
  for (uint32_t n = 0; n < 9; ++n) {
    const auto image = readPng(dir / ("s" + std::to_string(n) + ".png"), error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->argb, screenOf(0xFF000000u | n * 0x111111u)) << "screen " << n;
  }
}

TEST(SnapshotWriter, AFailureIsSaidAndNothingAfterItIsWritten) {
  TempDir dir;
  std::string error;
  SnapshotWriter writer(kWidth, kHeight, 1);
  auto full = AtomicFile::create("/dev/full", error);
  ASSERT_TRUE(full) << error;
  writer.add(std::move(*full), screenOf(0xFF123456));
  for (int n = 0; n < 3; ++n) {
    auto file = AtomicFile::create(dir / ("after" + std::to_string(n) + ".png"), error);
    ASSERT_TRUE(file) << error;
    writer.add(std::move(*file), screenOf(0xFF654321));
  }
  EXPECT_NE(writer.finish().find("No space left on device"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(dir / "")) << "a screen after the failure, or a temporary file, was left";
}

}  // namespace
}  // namespace tapsim
