// The firmware's task table and current index as a test executable exports
// them; FakeFirmware fills them.
#include "fake_firmware.h"

extern "C" {
TapTaskEntry _tapTask[quarnel::test::FakeFirmware::kTaskSlots] = {};
int32_t _curTapTask = 0;
}
