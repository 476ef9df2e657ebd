#include "fake_firmware.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

#include "fresh_module.h"

namespace quarnel::test {
namespace {

uint32_t decoyCalls = 0;

uint32_t decoyHandler(uint32_t, uint32_t, uint32_t) {
  ++decoyCalls;
  return 0;
}

std::unique_ptr<char[]> exactCopy(std::string_view text) {
  auto copy = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(copy.get(), text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

}  // namespace

bool FakeFirmware::tablePresent() {
  return dlsym(RTLD_DEFAULT, "_tapTask") != nullptr && dlsym(RTLD_DEFAULT, "_curTapTask") != nullptr;
}

FakeFirmware::FakeFirmware(FakePlatform& platform, int32_t moduleIndex)
    : platform_(platform),
      table_(static_cast<TapTaskEntry*>(dlsym(RTLD_DEFAULT, "_tapTask"))),
      currentIndex_(static_cast<int32_t*>(dlsym(RTLD_DEFAULT, "_curTapTask"))) {
  if (table_ == nullptr || currentIndex_ == nullptr)
    throw std::logic_error("this test executable exports no task table (built with NO_TASK_TABLE?)");
  if (moduleIndex < 0 || moduleIndex >= static_cast<int32_t>(kTaskSlots))
    throw std::invalid_argument("module index outside the task table");
  decoyCalls = 0;
  decoyPath_ = exactCopy("[decoy]/Decoy");
  decoyRecord_.path = decoyPath_.get();
  for (uint32_t i = 0; i < kTaskSlots; ++i) {
    table_[i] = TapTaskEntry{};
    table_[i].handler = &decoyHandler;
    table_[i].dirRecord = &decoyRecord_;
  }
  *currentIndex_ = moduleIndex;
  table_[moduleIndex].handler = nullptr;
  table_[moduleIndex].dirRecord = &record_;
  follow(platform_.disk.currentDirectory());
  platform_.onDirectoryChanged = [this](const std::string& directory) { follow(directory); };
  platform_.taskHandler = [this] { return entry().handler; };
}

FakeFirmware::~FakeFirmware() {
  platform_.onDirectoryChanged = nullptr;
  platform_.taskHandler = nullptr;
  for (uint32_t i = 0; i < kTaskSlots; ++i) table_[i] = TapTaskEntry{};
  *currentIndex_ = 0;
}

TapMainFunction FakeFirmware::start(const FreshModule& module) {
  TapEntryPoints points{};
  module.function<int32_t(TapEntryPoints*)>("__TAP_Init_")(&points);
  setHandler(reinterpret_cast<TapEventHandler>(points.slot[1]));
  return reinterpret_cast<TapMainFunction>(points.slot[0]);
}

TapTaskEntry& FakeFirmware::entry() { return table_[*currentIndex_]; }

std::string FakeFirmware::recordPath() const { return record_.path ? record_.path : ""; }

void FakeFirmware::follow(const std::string& directory) {
  setRecordPath(std::string(kPathPrefix) + directory);
}

void FakeFirmware::setRecordPath(std::string_view fullPath) {
  path_ = exactCopy(fullPath);
  record_.path = path_.get();
}

void FakeFirmware::setRecordPathNull() { record_.path = nullptr; }

void FakeFirmware::setRecordNull() { table_[*currentIndex_].dirRecord = nullptr; }

uint32_t FakeFirmware::decoyHandlerCalls() { return decoyCalls; }

}  // namespace quarnel::test
