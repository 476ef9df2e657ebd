// What a page change costs on the simulator, against the memory's own limit:
// one key delivered by the firmware's turn, the module's handler drawing the
// page through the platform calls, and the sync that composes the screen the
// viewer sees. The PC build of the module runs in-process, as the firmware runs it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "../frame/tap.h"
#include "firmware_session.h"

namespace quarnel::bench {
namespace {

constexpr uint16_t kPageCount = 21;
constexpr size_t kFrameWords = size_t{tapsim::kScreenWidth} * tapsim::kScreenHeight;

FirmwareSession* session = nullptr;

// The floor: one 720x576 frame of 32-bit pixels written by memset.
void memsetFrame(benchmark::State& state) {
  std::vector<uint32_t> frame(kFrameWords);
  int value = 0;
  for (auto _ : state) {
    std::memset(frame.data(), ++value & 0xFF, frame.size() * sizeof(uint32_t));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size() * sizeof(uint32_t)));
}

// The sync hands the composed screen on; keep it from being optimised away.
void watchFrames() {
  session->onFrame = [](const tapsim::Frame& frame) { benchmark::DoNotOptimize(frame.data()); };
}

// Each key must have ended on `page` with one synced screen, or the figure measures nothing.
void checkShown(benchmark::State& state, uint16_t page, uint64_t syncsBefore, uint64_t keysPerIteration) {
  const auto keys = static_cast<uint64_t>(state.iterations()) * keysPerIteration;
  if (session->pageNumber() != page || session->syncs() - syncsBefore != keys)
    state.SkipWithError("the module did not sync one screen per key");
}

// One page: the module is put on the page before, so `next` opens this one.
void pageChange(benchmark::State& state) {
  const auto page = static_cast<uint16_t>(state.range(0));
  const auto before = static_cast<uint16_t>(page == 1 ? kPageCount : page - 1);
  watchFrames();
  const uint64_t syncsBefore = session->syncs();
  for (auto _ : state) {
    session->pageNumber() = before;
    session->press(TAP_KEY_NEXT_PAGE);
  }
  checkShown(state, page, syncsBefore, 1);
}

// All 21 pages in a row, as the next key walks through them.
void allPages(benchmark::State& state) {
  watchFrames();
  const uint16_t start = session->pageNumber();
  const uint64_t syncsBefore = session->syncs();
  for (auto _ : state)
    for (uint16_t i = 0; i < kPageCount; ++i) session->press(TAP_KEY_NEXT_PAGE);
  checkShown(state, start, syncsBefore, kPageCount);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPageCount));
}

BENCHMARK(memsetFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(pageChange)->ArgName("page")->DenseRange(1, kPageCount)->Unit(benchmark::kMicrosecond);
BENCHMARK(allPages)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quarnel::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  try {
    quarnel::bench::FirmwareSession firmware(quarnel::bench::builtModule());
    quarnel::bench::session = &firmware;
    // The benchmarks run where the firmware delivers keys: inside the module's main loop.
    firmware.run([] { benchmark::RunSpecifiedBenchmarks(); });
    quarnel::bench::session = nullptr;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "page_change_bench: %s\n", e.what());
    return 1;
  }
  benchmark::Shutdown();
  return 0;
}
