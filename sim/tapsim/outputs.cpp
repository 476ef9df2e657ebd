#include "outputs.h"

#include <zlib.h>

#include "front/png.h"

namespace tapsim {

std::string checksumLine(size_t number, const Frame& frame) {
  const auto* bytes = reinterpret_cast<const Bytef*>(frame.data());
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32_z(crc, bytes, frame.size() * sizeof(uint32_t));
  char line[64];
  std::snprintf(line, sizeof line, "frame %zu, %dx%d, 0x%08lx", number, kScreenWidth, kScreenHeight, crc);
  return line;
}

OutputPaths outputPaths(const FrontOptions& options) {
  OutputPaths paths{options.snapshots, options.contactSheet, options.checksums, {}, options.windowCaptures};
  paths.trace = options.run.tracePath;
  paths.record = options.record;
  return paths;
}

// Two encoders when there are snapshots: on two cores the run itself needs little of either.
Outputs::Outputs(const FrontOptions& options)
    : options_(options), snapshots_(kScreenWidth, kScreenHeight, options.snapshots.empty() ? 0 : 2) {}

namespace {

std::optional<AtomicFile> startFile(const std::filesystem::path& target, std::string& error) {
  return target.empty() ? std::nullopt : AtomicFile::create(target, error);
}

std::string linksNote(std::string_view option, const AtomicFile& file) {
  if (file.replacesLink())
    return std::string(option) + " " + file.target().string() +
           " is a symbolic link; the new file replaces the link, and what it led to keeps the earlier contents";
  const unsigned others = file.otherNames();
  return std::string(option) + " " + file.target().string() + " has " + std::to_string(others) + " other name" +
         (others == 1 ? "" : "s") + " (hard links); the new file takes only this name, the " +
         (others == 1 ? "other keeps" : "others keep") + " the earlier contents";
}

// "2nd", "4th", "32nd": the strides a contact sheet takes.
std::string ordinal(size_t n) {
  const size_t lastTwo = n % 100, last = n % 10;
  const char* suffix = lastTwo >= 11 && lastTwo <= 13 ? "th" : last == 1 ? "st" : last == 2 ? "nd" : last == 3 ? "rd" : "th";
  return std::to_string(n) + suffix;
}

}  // namespace

bool Outputs::claim(std::string& error) {
  const OutputPaths paths = outputPaths(options_);
  for (const auto& [role, path] : {std::pair{"--snapshots", &paths.snapshots},
                                   std::pair{"--window-captures", &paths.windowCaptures},
                                   std::pair{"--contact-sheet", &paths.contactSheet},
                                   std::pair{"--checksums", &paths.checksums}, std::pair{"--trace", &paths.trace},
                                   std::pair{"--record", &paths.record}}) {
    if (path->empty()) continue;
    auto lock = OutputLock::take(role, *path, error);
    if (!lock) return false;
    locks_.push_back(std::move(*lock));
  }
  return true;
}

bool Outputs::startFiles(std::string& error) {
  if (!options_.snapshots.empty() &&
      !(snapshotFolder_ = StagedFolder::create(options_.snapshots, kSnapshotPrefix, error)))
    return false;
  if (!options_.windowCaptures.empty() &&
      !(captureFolder_ = StagedFolder::create(options_.windowCaptures, kWindowCapturePrefix, error)))
    return false;
  for (const auto& [target, file] : {std::pair{&options_.checksums, &checksums_}, std::pair{&options_.record, &record_},
                               std::pair{&options_.contactSheet, &sheetFile_}}) {
    *file = startFile(*target, error);
    if (!target->empty() && !*file) return false;
  }
  if (!options_.run.tracePath.empty() && !trace_.open(options_.run.tracePath, error)) return false;
  for (const auto& [option, file] : {std::pair{"--checksums", &checksums_}, std::pair{"--record", &record_},
                                     std::pair{"--contact-sheet", &sheetFile_}})
    if (*file && ((*file)->otherNames() > 0 || (*file)->replacesLink())) notes_.push_back(linksNote(option, **file));
  return true;
}

bool Outputs::open(std::string& error) {
  if (auto refused = refusedOutput(outputPaths(options_), options_.module, options_.disk, options_.keysFile)) {
    error = *refused;
    return false;
  }
  return claim(error) && startFiles(error);
}

std::filesystem::path Outputs::captureFile(size_t number) const {
  return captureFolder_ ? captureFolder_->file(number) : std::filesystem::path();
}

bool Outputs::wantsFrames() const {
  return !options_.snapshots.empty() || checksums_.has_value() || !options_.contactSheet.empty();
}

bool Outputs::add(const Frame& frame, std::string& error) {
  if (failed_) return false;
  ++count_;
  failed_ = true;  // until this screen is out everywhere
  if (snapshotFolder_) {
    // The file is made here, so a name that cannot be written stops the run at
    // once; the encoding goes on beside the run.
    auto file = AtomicFile::create(snapshotFolder_->file(count_), error);
    if (!file) return false;
    if (error = snapshots_.failure(); !error.empty()) return false;
    snapshots_.add(std::move(*file), frame);
  }
  if (checksums_ && !checksums_->write(checksumLine(count_, frame) + "\n")) {
    error = checksums_->error();
    return false;
  }
  if (sheetFile_) sheet_.add(frame);
  failed_ = false;
  return true;
}

// Every file of the set whole and closed, before any of them is put in place.
bool Outputs::closeFiles(std::string& error) {
  if (error = snapshots_.finish(); !error.empty()) return false;
  if (checksums_ && !checksums_->close(error)) return false;
  if (record_ && !(record_->write(formatKeyScript(presses_)) && record_->close(error))) {
    if (error.empty()) error = record_->error();
    return false;
  }
  if (sheetFile_ && sheet_.frameCount() == 0) sheetFile_.reset();  // the earlier sheet stays; the report says so
  if (sheetFile_ && !(sheet_.write(*sheetFile_, error) && sheetFile_->close(error))) return false;
  return trace_.close(error);
}

bool Outputs::placeAll(std::string& error) {
  if (snapshotFolder_) {
    const auto removed = snapshotFolder_->place(error);
    if (!removed) return false;
    earlierScreens_ = *removed;
  }
  if (captureFolder_ && !captureFolder_->place(error)) return false;
  for (auto* file : {&checksums_, &record_, &sheetFile_})
    if (*file && !(*file)->commit(error)) return false;
  return trace_.place(error);
}

bool Outputs::finish(std::string& error) {
  if (failed_) return true;  // the failure was reported when it happened; nothing is put in place
  failed_ = !(closeFiles(error) && placeAll(error));
  return !failed_;
}

std::vector<std::string> Outputs::report() const {
  const std::string noScreen = "no screen was synced";
  std::vector<std::string> lines;
  const std::string earlier = earlierScreens_ == 0 ? ""
                              : " (removed " + std::to_string(earlierScreens_) +
                                    " screen-NNN.png of an earlier run)";
  if (!options_.snapshots.empty())
    lines.push_back(count_ > 0 ? "snapshots: " + std::to_string(count_) + (count_ == 1 ? " PNG in " : " PNGs in ") +
                                     options_.snapshots.string() +
                                     earlier
                               : "snapshots: none, " + noScreen + "; " + options_.snapshots.string() +
                                     " holds no screen-NNN.png" + earlier);
  if (!options_.contactSheet.empty()) {
    std::error_code ec;
    const bool before = std::filesystem::exists(options_.contactSheet, ec);
    const std::string some = sheet_.stride() == 1 ? ""
                             : " (every " + ordinal(sheet_.stride()) + " of " + std::to_string(count_) +
                                   " screens: a sheet holds at most " +
                                   std::to_string(ContactSheet::kMostThumbnails) + ")";
    lines.push_back(count_ > 0 ? "contact sheet: " + options_.contactSheet.string() + some
                    : before   ? "contact sheet: none written, " + noScreen + "; " + options_.contactSheet.string() +
                                   " is an earlier run's"
                               : "contact sheet: none written, " + noScreen);
  }
  if (!options_.record.empty())
    lines.push_back("keys recorded: " + std::to_string(presses_.size()) + " in " + options_.record.string());
  if (!options_.checksums.empty())
    lines.push_back(count_ > 0 ? "checksums: " + options_.checksums.string()
                               : "checksums: " + options_.checksums.string() + " is empty, " + noScreen);
  return lines;
}

}  // namespace tapsim
