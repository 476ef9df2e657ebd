#pragma once
// Encodes snapshots beside the run: the module goes on while earlier screens
// become PNGs, on as many threads as the machine has cores to spare.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "atomicfile.h"

namespace tapsim {

class SnapshotWriter {
 public:
  SnapshotWriter(int32_t width, int32_t height, unsigned threads);
  ~SnapshotWriter();  // what is queued is dropped; files not committed stay absent
  SnapshotWriter(const SnapshotWriter&) = delete;
  SnapshotWriter& operator=(const SnapshotWriter&) = delete;

  // Queues one screen for a file already made (so a bad name is found at once).
  void add(AtomicFile file, std::vector<uint32_t> argb);
  // Waits until every queued screen is written; the first failure, if any.
  std::string finish();
  // The first failure so far; empty while all went well.
  std::string failure();

 private:
  struct Job {
    AtomicFile file;
    std::vector<uint32_t> argb;
  };
  void work();

  const int32_t width_, height_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  size_t busy_ = 0;
  bool stopping_ = false;
  std::string failure_;
  std::vector<std::thread> threads_;
};

}  // namespace tapsim
