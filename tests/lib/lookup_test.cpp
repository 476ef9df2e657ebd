// Finding the firmware's task table and index, the library's one-time
// initialisation and the system identifier, with the table exported.
#include <dlfcn.h>

#include "lib_fixture.h"

namespace quarnel::test {
namespace {

using ::testing::ElementsAre;

class LookupTest : public LibraryTest {
 protected:
  void* tapTable() { return fn<void*()>("FIS_vTAPTable")(); }
  int32_t* curTapTask() { return fn<int32_t*()>("FIS_vcurTapTask")(); }
  void* tryResolve(const char* name) { return fn<void*(const char*)>("TryResolve")(name); }
  int32_t initTAPex() { return fn<int32_t()>("InitTAPex")(); }
  uint16_t getSysID() { return fn<uint16_t()>("GetSysID")(); }
};

TEST_F(LookupTest, TableAndIndexAreTheProgramsOwnSymbols) {
  EXPECT_EQ(tapTable(), dlsym(RTLD_DEFAULT, "_tapTask"));
  EXPECT_EQ(curTapTask(), dlsym(RTLD_DEFAULT, "_curTapTask"));
  EXPECT_EQ(*curTapTask(), FakeFirmware::kModuleIndex);
}

TEST_F(LookupTest, TryResolveGivesNullForANameTheProgramLacks) {
  EXPECT_EQ(tryResolve("_noSuchFirmwareSymbol"), nullptr);
  EXPECT_EQ(tryResolve("_curTapTask"), dlsym(RTLD_DEFAULT, "_curTapTask"));
}

TEST_F(LookupTest, LookupsCallNoPlatformService) {
  tapTable();
  curTapTask();
  EXPECT_THAT(platform.calls(), ElementsAre());
}

struct SystemIdCase {
  uint32_t reported;
  uint16_t expected;
};

class SystemIdTest : public LookupTest, public ::testing::WithParamInterface<SystemIdCase> {};

TEST_P(SystemIdTest, GetSysIDKeepsOnlyTheLow16Bits) {
  platform.systemId = GetParam().reported;
  EXPECT_EQ(getSysID(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Words, SystemIdTest,
                         ::testing::Values(SystemIdCase{22120, 22120}, SystemIdCase{0xABCD5668, 0x5668},
                                           SystemIdCase{0xFFFF0000, 0}, SystemIdCase{0x0001FFFF, 0xFFFF}),
                         [](const auto& info) { return "Reported" + hex(info.param.reported); });

TEST_F(LookupTest, GetSysIDAsksThePlatformAnewOnEveryCall) {
  platform.systemId = 1000;
  EXPECT_EQ(getSysID(), 1000);
  platform.systemId = 2000;
  EXPECT_EQ(getSysID(), 2000);
  EXPECT_EQ(platform.callsTo("TAP_GetSystemId").size(), 2u);
}

TEST_F(LookupTest, GetSysIDInitialisesTheLibraryFirst) {
  platform.version = 0x12345678;
  getSysID();
  EXPECT_THAT(platform.calls(), ElementsAre("TAP_GetVersion()", "TAP_GetSystemId()"));
  EXPECT_EQ(module.variable<int32_t>("LibInitialized"), 1);
  EXPECT_EQ(module.variable<uint16_t>("ApplID"), 0x5678);
  EXPECT_EQ(module.variable<int32_t>("TAP_TableIndex"), FakeFirmware::kModuleIndex);
}

TEST_F(LookupTest, InitTAPexRunsItsBodyOnce) {
  platform.version = 7;
  EXPECT_EQ(initTAPex(), 1);
  platform.version = 9;
  firmware.setIndex(5);
  EXPECT_EQ(initTAPex(), 1);
  EXPECT_EQ(initTAPex(), 1);
  EXPECT_EQ(platform.callsTo("TAP_GetVersion").size(), 1u);
  EXPECT_EQ(module.variable<uint16_t>("ApplID"), 7);
  EXPECT_EQ(module.variable<int32_t>("TAP_TableIndex"), FakeFirmware::kModuleIndex);
}

TEST_F(LookupTest, LibraryStateStartsEmpty) {
  EXPECT_EQ(module.variable<int32_t>("LibInitialized"), 0);
  EXPECT_EQ(module.variable<uint16_t>("ApplID"), 0);
  EXPECT_EQ(module.variable<int32_t>("TAP_TableIndex"), 0);
  EXPECT_EQ(depth(), -1);
  for (const auto& slot : stack()) EXPECT_STREQ(slot, "");
}

TEST_F(LookupTest, VersionMarkNamesTheLibraryRelease) {
  EXPECT_STREQ(module.variable<const char*>("__kxlib_version__"), "__KXLIB_VERSION_TMS__ 2010-11-14");
}

}  // namespace
}  // namespace quarnel::test
