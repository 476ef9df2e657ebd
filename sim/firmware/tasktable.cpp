#include "tasktable.h"

#include <algorithm>
#include <cstring>

extern "C" {
// Looked up by name at run time by the support library, so they must stay
// plain exported symbols of the running program.
TapTaskEntry _tapTask[tapsim::kTaskSlots];
int32_t _curTapTask = tapsim::kModuleSlot;
}

namespace tapsim {
namespace {

constexpr std::string_view kPrefix = "/mnt/hd";  // seven characters ahead of the disk path
static_assert(kPrefix.size() == TAP_DIR_PREFIX_LENGTH);

char directoryPath[1024];
TapDirRecord directoryRecord;

}  // namespace

void resetTaskTable() {
  std::memset(_tapTask, 0, sizeof _tapTask);
  _curTapTask = kModuleSlot;
  directoryRecord = TapDirRecord{0, directoryPath};
  moduleEntry().dirRecord = &directoryRecord;
  setModuleDirectory("/");
}

TapTaskEntry& moduleEntry() { return _tapTask[kModuleSlot]; }

void setModuleDirectory(std::string_view diskPath) {
  const size_t room = sizeof directoryPath - kPrefix.size() - 1;
  const std::string_view kept = diskPath.substr(0, std::min(room, diskPath.size()));
  std::memcpy(directoryPath, kPrefix.data(), kPrefix.size());
  std::memcpy(directoryPath + kPrefix.size(), kept.data(), kept.size());
  directoryPath[kPrefix.size() + kept.size()] = '\0';
}

}  // namespace tapsim
