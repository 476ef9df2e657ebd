// An executable that exports no task table: the firmware of a receiver that
// lacks it.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "fresh_module.h"
#include "fwdatfile.h"

namespace quarnel::test {
namespace {

uint32_t moduleHandler(uint32_t event, uint32_t, uint32_t) { return event; }

TEST(KeyTranslateWithoutTaskTable, InstallAndRemoveBothReturnZero) {
  FakePlatform platform;
  platform.disk.addDirectory("/ProgramFiles/Settings");
  platform.disk.addFile("/ProgramFiles/FirmwareTMS.dat",
                        fwdat::build(std::vector<fwdat::ModelRecord>{{22120, 2}}));
  FreshModule module;
  const auto keyTranslate = module.function<int32_t(int32_t, TapEventHandler)>("KeyTranslate");
  EXPECT_EQ(keyTranslate(1, moduleHandler), 0);
  EXPECT_EQ(keyTranslate(0, nullptr), 0);
  EXPECT_EQ(module.variable<TapEventHandler>("Original_TAP_EventHandler"), nullptr);
  // Without the table the directory cannot be saved, so the disk is never read.
  EXPECT_EQ(module.variable<int32_t>("RemoteType"), 1);
  EXPECT_TRUE(platform.callsTo("TAP_Hdd_Fopen").empty());
}

}  // namespace
}  // namespace quarnel::test
