// A fresh module with a disk and task table, and LoadFirmwareDat at hand.
#pragma once
#include <algorithm>
#include <string>
#include <vector>

#include "fake_firmware.h"
#include "fake_platform.h"
#include "fresh_module.h"
#include "fwdatfile.h"
#include "lib/taplib.h"

namespace quarnel::test {

inline constexpr const char* kStartDirectory = "/Media";

struct Loaded {
  int32_t result = -1;
  FirmwareDatHeader* header = nullptr;
  SysIdRecord* records = nullptr;
  uint8_t* rest = nullptr;

  uint8_t* base() const { return reinterpret_cast<uint8_t*>(header); }
};

struct Database {
  FakePlatform platform;
  FakeFirmware firmware{platform};
  FreshModule module;

  Database() {
    platform.disk.addDirectory("/ProgramFiles/Settings");
    platform.disk.addDirectory(kStartDirectory);
    platform.disk.setCurrentDirectory(kStartDirectory);
    firmware.setRecordPath(std::string(FakeFirmware::kPathPrefix) + kStartDirectory);
  }

  static std::vector<uint8_t> file(std::vector<fwdat::ModelRecord> models) {
    return fwdat::build(models);
  }
  void put(const std::vector<uint8_t>& bytes, const std::string& directory = "/ProgramFiles") {
    platform.disk.addFile(directory + "/FirmwareTMS.dat", bytes);
  }

  Loaded load() {
    Loaded out;
    // Sentinels show whether a failed call wrote its out-parameters.
    auto* sentinel = reinterpret_cast<uint8_t*>(&out);
    out.header = reinterpret_cast<FirmwareDatHeader*>(sentinel);
    out.records = reinterpret_cast<SysIdRecord*>(sentinel);
    out.rest = sentinel;
    out.result = loadFirmwareDat()(&out.header, &out.records, &out.rest);
    if (out.result == 0) {
      EXPECT_EQ(out.header, reinterpret_cast<FirmwareDatHeader*>(sentinel)) << "written on failure";
      EXPECT_EQ(out.records, reinterpret_cast<SysIdRecord*>(sentinel)) << "written on failure";
      EXPECT_EQ(out.rest, sentinel) << "written on failure";
    }
    return out;
  }

  using LoadFunction = int32_t(FirmwareDatHeader**, SysIdRecord**, uint8_t**);
  LoadFunction* loadFirmwareDat() const {
    return module.function<LoadFunction>("LoadFirmwareDat");
  }
  int32_t& stackDepth() const { return module.variable<int32_t>("TAPDirStackDepth"); }
  int32_t pushDir() const { return module.function<int32_t()>("HDD_TAP_PushDir")(); }

  std::vector<std::string> callsStartingWith(std::vector<std::string> prefixes) const {
    std::vector<std::string> out;
    for (const auto& call : platform.calls())
      if (std::any_of(prefixes.begin(), prefixes.end(),
                      [&](const std::string& p) { return call.starts_with(p); }))
        out.push_back(call);
    return out;
  }
  // The calls that read the file, in order.
  std::vector<std::string> fileCalls() const {
    return callsStartingWith({"TAP_Hdd_Fopen", "TAP_Hdd_Flen", "TAP_MemAlloc", "TAP_Hdd_Fread",
                              "TAP_Hdd_Fclose", "TAP_MemFree"});
  }
};

}  // namespace quarnel::test
