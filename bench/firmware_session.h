// The module run the way the firmware runs it, inside a benchmark program:
// loaded through its start-up entry, its main function called, and keys handed
// to whatever handler the task table holds, one turn of the platform each.
// The caller's work runs from inside the module's first turn of the platform,
// where the firmware delivers keys; then the module gets the quit key.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/screen.h"

namespace quarnel::bench {

class FirmwareSession {
 public:
  // Throws std::runtime_error when the module cannot be loaded.
  explicit FirmwareSession(const std::filesystem::path& module);
  ~FirmwareSession();
  FirmwareSession(const FirmwareSession&) = delete;
  FirmwareSession& operator=(const FirmwareSession&) = delete;

  // Calls the module's main function; `work` runs from its first turn of the
  // platform. Returns what main returned.
  int32_t run(const std::function<void()>& work);

  // One turn of the platform with `key` waiting: the handler has drawn and
  // synced by the time this returns.
  void press(uint32_t key);

  // The page the module shows, its exported page number.
  uint16_t& pageNumber();
  uint64_t syncs() const;

  // Sees every synced screen as the receiver process would send it out.
  std::function<void(const tapsim::Frame&)> onFrame;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

// The PC build of Quarnel.tap this program was built with.
std::filesystem::path builtModule();

}  // namespace quarnel::bench
