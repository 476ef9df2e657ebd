// The module as the firmware runs it: TAP_Main hooks its own handler first,
// and key presses then take the road through the hook.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "key_translation.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Field;

size_t firstCallTo(const std::vector<std::string>& calls, const std::string& prefix) {
  return static_cast<size_t>(std::find_if(calls.begin(), calls.end(),
                                          [&](const std::string& c) { return c.starts_with(prefix); }) -
                             calls.begin());
}

TEST(ModuleMain, HooksItsHandlerBeforeAnythingElseAndPagesWithTheRemoteOf22120) {
  KeyTranslation t;
  t.platform.systemId = 22120;
  t.putDatabase({{22120, 1}});
  t.platform.pressKey(0x10025);
  t.platform.pressKey(0x10017);
  const TapMainFunction main = t.firmware.start(t.module);
  EXPECT_EQ(main(), 0);

  EXPECT_THAT(t.platform.delivered(),
              ElementsAre(Field(&DeliveredEvent::result, 0x10025u), Field(&DeliveredEvent::result, 0u)));
  EXPECT_EQ(t.pageNumber(), 2);
  EXPECT_EQ(t.firmware.handler(), t.hook()) << "the hook stays in place when the module ends";
  const auto& calls = t.platform.calls();
  EXPECT_LT(firstCallTo(calls, "TAP_Hdd_Fread"), firstCallTo(calls, "TAP_Channel_GetCurrent"));
  EXPECT_EQ(t.platform.liveBlocks(), 1u) << "the database is kept for the module's life";
}

TEST(ModuleMain, WithoutADatabaseOnAnUnlistedModelKeysReachTheModuleUnchanged) {
  KeyTranslation t;
  t.platform.systemId = kUnlistedModel;
  t.platform.pressKey(0x10045);
  t.platform.pressKey(0x10025);
  t.platform.pressKey(0x10017);
  EXPECT_EQ(t.firmware.start(t.module)(), 0);
  EXPECT_EQ(t.pageNumber(), 2);
  EXPECT_EQ(t.firmware.handler(), t.hook());
}

}  // namespace
}  // namespace quarnel::test
