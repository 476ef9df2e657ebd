#pragma once
#include <cstdint>
#include <filesystem>

namespace tapsim {

// What the simulated receiver is: its model, firmware, tuner, disk and heap.
struct ReceiverSettings {
  uint32_t systemId = 22010;
  uint32_t firmwareVersion = 0x1234;
  uint32_t channelFirst = 0;
  uint32_t channelSecond = 7;
  uint32_t changeDirSuccess = 1;
  uint32_t changeDirFailure = 0;
  uint64_t failingAllocation = 0;  // 0: none fails
  uint64_t memoryLimit = 16u << 20;  // what the module's blocks may hold together
  std::filesystem::path diskRoot;
  uint64_t osdPixels = 0;  // what the OSD's regions may hold together; 0: a receiver's
};

}  // namespace tapsim
