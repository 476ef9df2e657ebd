// What confining the board adds to a run: planning it in the host, and
// applying it in the child between fork and exec (a bare fork is the baseline).
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sandbox.h"

namespace {

const std::vector<std::string> kBoard{TAPSIM_BOARD, QUARNEL_MODULE_PATH};

void forkAndReap(const tapsim::Confinement* confinement) {
  const pid_t child = fork();
  if (child == 0) _exit(confinement != nullptr && confinement->apply() != nullptr ? 1 : 0);
  int status = 0;
  waitpid(child, &status, 0);
  if (status != 0) throw std::runtime_error("the child could not be confined");
}

void plan(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(
        tapsim::Confinement::plan(kBoard, QUARNEL_MODULE_PATH, std::nullopt, tapsim::SandboxMode::confined));
}
BENCHMARK(plan);

void bareFork(benchmark::State& state) {
  for (auto _ : state) forkAndReap(nullptr);
}
BENCHMARK(bareFork)->UseRealTime();

void confinedFork(benchmark::State& state) {
  const auto confinement =
      tapsim::Confinement::plan(kBoard, QUARNEL_MODULE_PATH, std::nullopt, tapsim::SandboxMode::confined);
  for (auto _ : state) forkAndReap(&confinement);
}
BENCHMARK(confinedFork)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
