#pragma once
#include <string_view>

#include "../../frame/firmware.h"

namespace tapsim {

inline constexpr int32_t kTaskSlots = 8;
inline constexpr int32_t kModuleSlot = 3;  // nonzero, so a module that ignores the index shows it

// The firmware's table of running modules (exported as _tapTask and _curTapTask).
void resetTaskTable();
TapTaskEntry& moduleEntry();
// The firmware names the module's current directory after its prefix.
void setModuleDirectory(std::string_view diskPath);

}  // namespace tapsim
