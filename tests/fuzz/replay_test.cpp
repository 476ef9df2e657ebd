#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> readSeed(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Every cut of a small seed; of a large one, about a thousand evenly spread.
void replayWithCuts(const std::vector<uint8_t>& bytes) {
  constexpr size_t kEveryCutUpTo = 4096;
  const size_t stride = bytes.size() <= kEveryCutUpTo ? 1 : bytes.size() / 1024;
  for (size_t size = 0; size < bytes.size(); size += stride) LLVMFuzzerTestOneInput(bytes.data(), size);
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

// A failed check aborts the process, which fails this test with the reason.
TEST(FuzzSeedCorpus, EverySeedAndEveryCutOfItPassesTheHarnessChecks) {
  size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(FUZZ_CORPUS)) {
    replayWithCuts(readSeed(entry.path()));
    ++seeds;
  }
  EXPECT_GE(seeds, 5u);
}

#ifdef FUZZ_BUILT_SEEDS
// Files built by the project (paths split at '|'); one that is not built yet is skipped.
TEST(FuzzSeedCorpus, BuiltSeedsPassTheHarnessChecks) {
  const std::string_view list = FUZZ_BUILT_SEEDS;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t bar = list.find('|', start);
    const std::filesystem::path seed(list.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
    if (std::filesystem::is_regular_file(seed)) replayWithCuts(readSeed(seed));
    else std::cout << "not built, skipped: " << seed << '\n';
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
}
#endif

}  // namespace
