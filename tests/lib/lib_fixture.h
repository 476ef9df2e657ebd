// One fresh module life per test, with the fake platform and firmware in
// place; the module goes first when the test ends.
#pragma once
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "fake_firmware.h"
#include "fake_platform.h"
#include "fresh_module.h"
#include "lib/taplib.h"

namespace quarnel::test {

class LibraryTest : public ::testing::Test {
 protected:
  LibraryTest() {
    platform.disk.addDirectory("/ProgramFiles/Settings");
  }

  // Puts the platform's current directory somewhere without going through the
  // library (and without teaching it the success value).
  void startIn(const std::string& directory) {
    platform.disk.addDirectory(directory);
    TAP_Hdd_ChangeDir(directory.c_str());
    platform.clearCalls();
  }

  template <typename Signature>
  Signature* fn(const char* name) { return module.function<Signature>(name); }

  int32_t changeDir(const char* path) { return fn<int32_t(const char*)>("HDD_ChangeDir")(path); }
  int32_t pushDir() { return fn<int32_t()>("HDD_TAP_PushDir")(); }
  int32_t popDir() { return fn<int32_t()>("HDD_TAP_PopDir")(); }
  int32_t currentDir(char* dest) { return fn<int32_t(char*)>("HDD_TAP_GetCurrentDir")(dest); }
  int32_t locate(const char* name, const char* subdir) {
    return fn<int32_t(const char*, const char*)>("INILocateFile")(name, subdir);
  }
  int32_t& depth() { return module.variable<int32_t>("TAPDirStackDepth"); }
  using Stack = char[TAP_DIR_STACK_SLOTS][TAP_PATH_SIZE];
  Stack& stack() { return module.variable<Stack>("TAPDirStack"); }

  FakePlatform platform;
  FakeFirmware firmware{platform};
  FreshModule module;
};

inline std::string changeDirCall(const std::string& path) {
  return "TAP_Hdd_ChangeDir(" + quoted(path.c_str()) + ")";
}

}  // namespace quarnel::test
