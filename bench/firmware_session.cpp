#include "firmware_session.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "../frame/tap.h"
#include "firmware/loader.h"
#include "firmware/inprocess.h"
#include "firmware/receiver.h"
#include "firmware/tasktable.h"
#include "fwdatfile.h"
#include "platform/disk.h"

namespace quarnel::bench {
namespace {

// Keys as the firmware's turn asks for them: the one pressed, if any; the
// first ask runs the caller's work, after which the module is told to quit.
class SessionKeys : public tapsim::KeySource {
 public:
  std::optional<uint32_t> next() override {
    if (waiting_) return std::exchange(waiting_, std::nullopt);
    if (quitSent_) return std::nullopt;
    if (work_ != nullptr) (*std::exchange(work_, nullptr))();
    quitSent_ = true;
    return TAP_KEY_QUIT;
  }

  void setWork(const std::function<void()>* work) { work_ = work; }
  void hold(uint32_t key) { waiting_ = key; }

 private:
  const std::function<void()>* work_ = nullptr;
  std::optional<uint32_t> waiting_;
  bool quitSent_ = false;
};

// The disk tapsim gives a module by default: the folders and the firmware database.
tapsim::DiskFolder preparedDisk() {
  auto folder = tapsim::DiskFolder::createDefault();
  if (!fwdat::writeFile(folder.path() / "ProgramFiles" / "Settings" / "FirmwareTMS.dat", fwdat::defaultModels()))
    throw std::runtime_error("cannot write the firmware database into " + folder.path().string());
  return folder;
}

tapsim::ReceiverSettings settingsFor(const tapsim::DiskFolder& disk) {
  tapsim::ReceiverSettings settings;
  settings.diskRoot = disk.path();
  return settings;
}

}  // namespace

struct FirmwareSession::Parts {
  explicit Parts(FirmwareSession& owner)
      : disk(preparedDisk()), receiver(settingsFor(disk), outputFor(owner)), binding(receiver, keys) {}

  static tapsim::ReceiverOutput outputFor(FirmwareSession& owner) {
    tapsim::ReceiverOutput out;
    out.onSync = [&owner](const tapsim::Frame& frame, uint32_t) {
      if (owner.onFrame) owner.onFrame(frame);
    };
    return out;
  }

  tapsim::DiskFolder disk;
  SessionKeys keys;
  tapsim::Receiver receiver;
  tapsim::InProcessBinding binding;
  std::unique_ptr<tapsim::LoadedModule> module;
  uint16_t* pageNumber = nullptr;
};

FirmwareSession::FirmwareSession(const std::filesystem::path& module)
    : parts_(std::make_unique<Parts>(*this)) {
  parts_->binding.changeDir("/ProgramFiles");  // where the firmware keeps its modules
  std::string error;
  parts_->module = tapsim::LoadedModule::load(module, error);
  if (!parts_->module) throw std::runtime_error(error);
  parts_->pageNumber = static_cast<uint16_t*>(parts_->module->symbol("pagenumber"));
  if (parts_->pageNumber == nullptr) throw std::runtime_error(module.string() + " exports no pagenumber");
  tapsim::moduleEntry().handler = parts_->module->handler();
}

FirmwareSession::~FirmwareSession() = default;

int32_t FirmwareSession::run(const std::function<void()>& work) {
  parts_->keys.setWork(&work);
  return parts_->module->main()();
}

void FirmwareSession::press(uint32_t key) {
  parts_->keys.hold(key);
  parts_->binding.systemTurn();
}

uint16_t& FirmwareSession::pageNumber() { return *parts_->pageNumber; }

uint64_t FirmwareSession::syncs() const { return parts_->receiver.syncs; }

std::filesystem::path builtModule() { return QUARNEL_MODULE_PATH; }

}  // namespace quarnel::bench
