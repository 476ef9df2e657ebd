#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> readSeed(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A failed check aborts the process, which fails this test with the reason.
TEST(FuzzSeedCorpus, EverySeedAndEveryCutOfItPassesTheHarnessChecks) {
  size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FUZZ_CORPUS)) {
    const auto bytes = readSeed(entry.path());
    for (size_t size = 0; size <= bytes.size(); ++size) LLVMFuzzerTestOneInput(bytes.data(), size);
    ++seeds;
  }
  EXPECT_GE(seeds, 5u);
}

}  // namespace
