#pragma once
#include <sys/types.h>

#include <memory>
#include <string>

namespace tapsim {

// A virtual X server of the test's own, on whichever display number is free.
class XServer {
 public:
  // Null, with a reason, when no virtual X server can be started.
  static std::unique_ptr<XServer> start(std::string& error);
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  const std::string& display() const { return display_; }

 private:
  XServer(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}
  pid_t pid_;
  std::string display_;
};

}  // namespace tapsim
