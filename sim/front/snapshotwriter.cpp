#include "snapshotwriter.h"

#include "png.h"

namespace tapsim {

SnapshotWriter::SnapshotWriter(int32_t width, int32_t height, unsigned threads) : width_(width), height_(height) {
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

SnapshotWriter::~SnapshotWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  changed_.notify_all();
  for (auto& thread : threads_) thread.join();
}

void SnapshotWriter::add(AtomicFile file, std::vector<uint32_t> argb) {
  {
    // A few screens ahead at most, so that a fast module does not fill memory with them.
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return jobs_.size() < 2 * threads_.size() || !failure_.empty(); });
    jobs_.push_back(Job{std::move(file), std::move(argb)});
  }
  changed_.notify_one();
}

void SnapshotWriter::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    // After a failure nothing more is written: the run is over for its outputs.
    if (!failure_.empty()) {
      changed_.notify_all();
      continue;
    }
    ++busy_;
    lock.unlock();
    std::string error;
    const bool written = writePng(job.file, job.argb, width_, height_, error);
    lock.lock();
    --busy_;
    if (!written && failure_.empty()) failure_ = error;
    changed_.notify_all();
  }
}

std::string SnapshotWriter::finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.empty() && busy_ == 0; });
  return failure_;
}

std::string SnapshotWriter::failure() {
  std::lock_guard lock(mutex_);
  return failure_;
}

}  // namespace tapsim
