// The firmware's side of the task table for tests. A test executable built
// with quarnel_add_test exports `_tapTask` and `_curTapTask` (see
// task_table.cpp) unless it asks for NO_TASK_TABLE; FakeFirmware finds them
// at run time, so the same code serves both kinds of executable.
//
// The running module's entry sits at a nonzero index; every other entry holds
// a decoy handler and a decoy directory, so reading the wrong entry shows.
// Its directory record names "[disk0]" followed by the fake disk's current
// directory, renewed after every successful TAP_Hdd_ChangeDir.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fake_platform.h"
#include "frame/firmware.h"

namespace quarnel::test {

class FreshModule;

class FakeFirmware {
 public:
  static constexpr std::string_view kPathPrefix = "[disk0]";  // 7 characters ahead of the root
  static constexpr int32_t kModuleIndex = 2;
  static constexpr uint32_t kTaskSlots = 8;

  // Whether this executable exports the task table and its index.
  static bool tablePresent();

  explicit FakeFirmware(FakePlatform& platform, int32_t moduleIndex = kModuleIndex);
  ~FakeFirmware();
  FakeFirmware(const FakeFirmware&) = delete;
  FakeFirmware& operator=(const FakeFirmware&) = delete;

  // Starts a module the way the firmware does: __TAP_Init_ hands over the main
  // function and handler; the handler goes into the module's entry. Returns
  // the main function for the test to call.
  TapMainFunction start(const FreshModule& module);

  TapTaskEntry& entry();
  int32_t index() const { return *currentIndex_; }
  void setIndex(int32_t index) { *currentIndex_ = index; }
  TapEventHandler handler() { return entry().handler; }
  void setHandler(TapEventHandler handler) { entry().handler = handler; }

  // The full path the record names, e.g. "[disk0]/ProgramFiles".
  std::string recordPath() const;
  // Makes the record name exactly these bytes, with nothing readable past the
  // terminator. This and a null path last until the next successful change of
  // directory; a missing record lasts for the firmware's life.
  void setRecordPath(std::string_view fullPath);
  void setRecordPathNull();   // the record is there, its path is null
  void setRecordNull();       // the entry has no directory record
  static uint32_t decoyHandlerCalls();

 private:
  void follow(const std::string& directory);

  FakePlatform& platform_;
  TapTaskEntry* table_ = nullptr;
  int32_t* currentIndex_ = nullptr;
  TapDirRecord record_{};
  TapDirRecord decoyRecord_{};
  std::unique_ptr<char[]> path_;
  std::unique_ptr<char[]> decoyPath_;
};

}  // namespace quarnel::test
