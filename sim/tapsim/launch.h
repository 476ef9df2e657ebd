#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/screen.h"

namespace tapsim {

// An interrupt, terminate or hang-up signal stops the running receiver
// instead of the front end, so that the run ends the ordinary way and tidies
// up after itself (the fresh disk above all).
void stopReceiverOnSignals();
// The signal that asked for the end, or 0.
int stopSignal();

// The receiver process: keys go in through one pipe, synced screens come
// out through another.
class ReceiverProcess {
 public:
  // The receiver reads keys on descriptor 3 and writes screens on 4.
  static constexpr int kKeyFd = 3, kFrameFd = 4;

  static std::optional<ReceiverProcess> start(const std::vector<std::string>& argv, std::string& error);
  ReceiverProcess(ReceiverProcess&& other) noexcept;
  ReceiverProcess& operator=(ReceiverProcess&&) = delete;
  ~ReceiverProcess();

  void sendKey(uint32_t code);
  void endKeys();  // no more keys will come
  int frameFd() const { return frames_; }
  // Reads one synced screen; false at the end of the run or on a damaged stream.
  bool readFrame(Frame& frame, uint32_t& page, std::string& error);
  // Ends the receiver now (it may be blocked on a screen nobody will read); wait() still reaps it.
  void stop();
  // Waits for the end and describes how it ended; returns the exit code to pass on.
  int wait(std::string& how);

 private:
  ReceiverProcess(pid_t pid, int keys, int frames) : pid_(pid), keys_(keys), frames_(frames) {}
  pid_t pid_ = -1;
  int keys_ = -1, frames_ = -1;
};

}  // namespace tapsim
