// How much memory a receiver gives a module at most.
#pragma once
#include <cstdint>

namespace tapsim {

// The firmware and the recorder keep most of a receiver's memory. Quarnel
// needs about 2 MiB (its screen and the firmware database), so 16 MiB leaves
// a module room, while anything file-sized, like a database of gigabytes, is
// refused as a receiver would refuse it.
inline constexpr uint32_t kReceiverMemoryLimit = 16u << 20;

}  // namespace tapsim
