// A fresh module whose event handler sits in the fake firmware's task table,
// a disk with the standard folders, and a recording handler that stands in
// for the module's own when a test needs to see exactly what it was given.
#pragma once
#include <cstdint>
#include <vector>

#include "fake_firmware.h"
#include "fake_platform.h"
#include "fresh_module.h"
#include "fwdatfile.h"

namespace quarnel::test {

struct SeenEvent {
  uint32_t event;
  uint32_t param1;
  uint32_t param2;
  friend bool operator==(const SeenEvent&, const SeenEvent&) = default;
};

// What the recording handler saw and what it answers.
inline std::vector<SeenEvent> seenEvents;
inline uint32_t recordingReply = TAP_EVENT_KEY;

inline uint32_t recordingHandler(uint32_t event, uint32_t param1, uint32_t param2) {
  seenEvents.push_back({event, param1, param2});
  return recordingReply;
}

inline constexpr uint16_t kListedModels[] = {22120, 22130, 32030, 32031, 33021};
inline constexpr uint16_t kUnlistedModel = 42561;

struct KeyTranslation {
  FakePlatform platform;
  FakeFirmware firmware{platform};
  FreshModule module;

  KeyTranslation() {
    seenEvents.clear();
    recordingReply = TAP_EVENT_KEY;
    platform.disk.addDirectory("/ProgramFiles/Settings");
  }

  void putDatabase(std::vector<fwdat::ModelRecord> models) {
    platform.disk.addFile("/ProgramFiles/FirmwareTMS.dat", fwdat::build(models));
  }

  TapEventHandler moduleHandler() const {
    return module.function<uint32_t(uint32_t, uint32_t, uint32_t)>("TAP_EventHandler");
  }
  TapEventHandler hook() const {
    return module.function<uint32_t(uint32_t, uint32_t, uint32_t)>("KeyTranslateHook");
  }
  int32_t keyTranslate(int32_t install, TapEventHandler handler) const {
    return module.function<int32_t(int32_t, TapEventHandler)>("KeyTranslate")(install, handler);
  }
  int32_t& remoteType() const { return module.variable<int32_t>("RemoteType"); }
  TapEventHandler& original() const {
    return module.variable<TapEventHandler>("Original_TAP_EventHandler");
  }
  uint16_t pageNumber() const { return module.variable<uint16_t>("pagenumber"); }

  // The handler in the entry is the one given; then the hook goes in front of it.
  int32_t installOver(TapEventHandler handler) {
    firmware.setHandler(handler);
    return keyTranslate(1, handler);
  }

  // What the firmware does with a key press: call whatever the entry holds.
  uint32_t press(uint32_t keyWord, uint32_t param2 = 0) {
    return firmware.handler()(TAP_EVENT_KEY, keyWord, param2);
  }
};

}  // namespace quarnel::test
