#pragma once
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "front/atomicfile.h"
#include "front/contactsheet.h"
#include "front/snapshotwriter.h"
#include "front/outputpaths.h"
#include "options.h"
#include "platform/screen.h"

namespace tapsim {

// Checksum line of one screen, as the golden files hold them.
std::string checksumLine(size_t number, const Frame& frame);

// The outputs that the options ask for, the trace among them.
OutputPaths outputPaths(const FrontOptions& options);

// What a run leaves behind for people (PNGs) and for tests (checksums). Each
// file appears whole or not at all; after a failed add() nothing more is
// committed, so the files of an earlier run stay as they were.
class Outputs {
 public:
  explicit Outputs(const FrontOptions& options);
  Outputs(const Outputs&) = delete;
  Outputs& operator=(const Outputs&) = delete;

  // Refuses outputs that would overwrite the module, the disk or each other;
  // clears the snapshot folder of earlier screens (and says how many on
  // stdout); starts the checksum file and checks the contact sheet's folder,
  // so that a bad path is found before the run starts.
  bool open(std::string& error);
  bool add(const Frame& frame, std::string& error);
  // Whether any output keeps the screens.
  bool wantsFrames() const;
  // A key pressed into the run, for --record.
  void pressed(RemotePress press) { presses_.push_back(press); }
  bool finish(std::string& error);
  // The run was cut short (a signal, a crash of the front end): finish()
  // then commits nothing, and the files of an earlier run stay.
  void abandon() { failed_ = true; }
  // One line per output, saying in words which of them ended empty.
  std::vector<std::string> report() const;
  size_t count() const { return count_; }

 private:
  const FrontOptions& options_;
  size_t count_ = 0;
  bool failed_ = false;
  ContactSheet sheet_;
  SnapshotWriter snapshots_;
  std::optional<AtomicFile> checksums_;
  std::optional<AtomicFile> record_;
  std::vector<RemotePress> presses_;
};

}  // namespace tapsim
