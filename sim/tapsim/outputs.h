#pragma once
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "front/contactsheet.h"
#include "options.h"
#include "platform/screen.h"

namespace tapsim {

// Checksum line of one screen, as the golden files hold them.
std::string checksumLine(size_t number, const Frame& frame);

// What a run leaves behind for people (PNGs) and for tests (checksums).
class Outputs {
 public:
  explicit Outputs(const FrontOptions& options);
  ~Outputs();
  Outputs(const Outputs&) = delete;
  Outputs& operator=(const Outputs&) = delete;

  // Makes the snapshot folder and the checksum file, and checks the contact
  // sheet's folder, so that a bad path is found before the run starts.
  bool open(std::string& error);
  bool add(const Frame& frame, std::string& error);
  bool finish(std::string& error);
  std::vector<std::string> report() const;
  size_t count() const { return count_; }

 private:
  const FrontOptions& options_;
  size_t count_ = 0;
  ContactSheet sheet_;
  std::FILE* checksums_ = nullptr;
};

}  // namespace tapsim
