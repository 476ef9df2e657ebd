#pragma once
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "front/atomicfile.h"
#include "front/contactsheet.h"
#include "front/outputlock.h"
#include "front/outputpaths.h"
#include "front/snapshotwriter.h"
#include "front/stagedfolder.h"
#include "options.h"
#include "platform/screen.h"
#include "tracefile.h"

namespace tapsim {

// Checksum line of one screen, as the golden files hold them.
std::string checksumLine(size_t number, const Frame& frame);

// The outputs that the options ask for, the trace among them.
OutputPaths outputPaths(const FrontOptions& options);

// What a run leaves behind for people (PNGs) and for tests (checksums, the
// trace) is one set. Everything is written beside its target while the run
// goes on, and put in place together by finish(), once every file of the set
// is whole; a run that fails or is cut short leaves the earlier set as it was.
// Each target is claimed (OutputLock) for the whole run, so a second run
// into the same outputs is refused rather than mixed in.
class Outputs {
 public:
  explicit Outputs(const FrontOptions& options);
  Outputs(const Outputs&) = delete;
  Outputs& operator=(const Outputs&) = delete;

  // Refuses outputs that would overwrite the module, the key script, the disk
  // or each other, a read-only file, or outputs another run holds; then
  // claims them and starts every file, so that a bad path is found before
  // the run starts. Nothing the user sees changes yet.
  bool open(std::string& error);
  // Said before the run: a replaced file whose hard links keep the old bytes.
  const std::vector<std::string>& notes() const { return notes_; }
  std::FILE* trace() const { return trace_.file(); }
  // Where the window's capture of screen `number` goes (--window-captures).
  std::filesystem::path captureFile(size_t number) const;
  // No window opened: --window-captures leaves its folder as it was.
  void dropCaptures() { captureFolder_.reset(); }

  bool add(const Frame& frame, std::string& error);
  // Whether any output keeps the screens.
  bool wantsFrames() const;
  // A key pressed into the run, for --record.
  void pressed(RemotePress press) { presses_.push_back(press); }
  bool finish(std::string& error);
  // The run was cut short (a signal, a crash of the front end): finish()
  // then puts nothing in place, and the set of an earlier run stays.
  void abandon() { failed_ = true; }
  // One line per output, saying in words which of them ended empty.
  std::vector<std::string> report() const;
  size_t count() const { return count_; }

 private:
  bool claim(std::string& error);
  bool startFiles(std::string& error);
  bool closeFiles(std::string& error);
  bool placeAll(std::string& error);

  const FrontOptions& options_;
  size_t count_ = 0;
  bool failed_ = false;
  std::vector<OutputLock> locks_;
  std::vector<std::string> notes_;
  ContactSheet sheet_;
  // Before the writer, so that its threads have stopped when the folders go.
  std::optional<StagedFolder> snapshotFolder_, captureFolder_;
  SnapshotWriter snapshots_;
  std::optional<AtomicFile> checksums_, record_, sheetFile_;
  TraceFile trace_;
  std::vector<RemotePress> presses_;
  size_t earlierScreens_ = 0;
};

}  // namespace tapsim
