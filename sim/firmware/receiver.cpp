#include "receiver.h"

#include <cassert>
#include <thread>

#include "tasktable.h"
#include "trace.h"

namespace tapsim {
namespace {
Receiver* currentReceiver = nullptr;
}

Receiver::Receiver(const ReceiverSettings& s, ReceiverOutput out, KeySource& keySource)
    : settings(s),
      output(std::move(out)),
      keys(keySource),
      channels(s.channelFirst, s.channelSecond),
      memory(s.failingAllocation),
      disk(s.diskRoot) {
  assert(currentReceiver == nullptr);
  currentReceiver = this;
  disk.setChangeDirResults(settings.changeDirSuccess, settings.changeDirFailure);
  resetTaskTable();
  setModuleDirectory(disk.currentDir());
  fillEntryWords();
}

Receiver::~Receiver() { currentReceiver = nullptr; }

Receiver& Receiver::current() {
  assert(currentReceiver != nullptr);
  return *currentReceiver;
}

void Receiver::sync() {
  ++syncs;
  if (output.onSync) output.onSync(screen.compose(channels.playing(), channels.current().second));
}

uint32_t Receiver::changeDir(std::string_view path) {
  const uint32_t result = disk.changeDir(path);
  if (result == settings.changeDirSuccess) setModuleDirectory(disk.currentDir());
  return result;
}

void Receiver::systemTurn() {
  if (const auto key = keys.next()) {
    idleSince.reset();
    ++keysDelivered;
    // Whatever handler the module's entry holds now gets the key: a hook
    // the module put there in the meantime included.
    const TapEventHandler handler = moduleEntry().handler;
    // The event goes into the trace ahead of the calls the handler makes, its
    // result in a line of its own once the handler has returned.
    TraceLine(output.trace, "event").arg(uint32_t{TAP_EVENT_KEY}).arg(*key).arg(0);
    if (handler == nullptr) return;
    const uint32_t result = handler(TAP_EVENT_KEY, *key, 0);
    TraceLine(output.trace, "event_result").arg(uint32_t{TAP_EVENT_KEY}).arg(*key).arg(0).result(result);
    return;
  }
  if (!keys.finished()) return;
  const auto now = std::chrono::steady_clock::now();
  if (!idleSince) idleSince = now;
  if (idleLimit.count() != 0 && now - *idleSince >= idleLimit && output.onStalled) output.onStalled();
  // Nothing will come: no need to spin the module's loop at full speed.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace tapsim
