#include "receiver.h"

#include <algorithm>

namespace tapsim {

void KeptText::add(std::string_view more) {
  const size_t kept = std::min(more.size(), kMostBytes - text_.size());
  text_.append(more.substr(0, kept));
  cut_ += more.size() - kept;
}

Receiver::Receiver(const ReceiverSettings& s, ReceiverOutput out)
    : settings(s),
      output(std::move(out)),
      screen(s.osdPixels != 0 ? static_cast<size_t>(s.osdPixels) : Screen::kMostPixels),
      channels(s.channelFirst, s.channelSecond),
      memory(s.failingAllocation, s.memoryLimit),
      disk(s.diskRoot) {
  disk.setChangeDirResults(settings.changeDirSuccess, settings.changeDirFailure);
}

void Receiver::sync(uint32_t page) {
  ++syncs;
  if (output.framesWanted && !output.framesWanted()) return;
  if (output.onSync) output.onSync(screen.compose(channels.playing(), channels.current().second), page);
}

uint32_t Receiver::handleFor(TapFile* file) {
  if (file == nullptr) return 0;
  const uint32_t handle = 0x1000u + 0x10u * static_cast<uint32_t>(files_.size());
  files_[handle] = file;
  return handle;
}

TapFile* Receiver::fileFor(uint64_t handle) const {
  const auto found = handle <= 0xFFFFFFFFu ? files_.find(static_cast<uint32_t>(handle)) : files_.end();
  return found != files_.end() ? found->second : nullptr;
}

}  // namespace tapsim
