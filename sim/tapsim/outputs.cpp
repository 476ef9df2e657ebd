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

bool makeFolder(const std::filesystem::path& folder, std::string& error) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) error = "cannot make " + folder.string() + ": " + ec.message();
  return !ec;
}

// Earlier screens would pass for this run's; they go before it starts.
bool clearSnapshots(const std::filesystem::path& folder, std::string& error) {
  const auto removed = removeSnapshots(folder, error);
  if (!removed) return false;
  if (*removed > 0) {
    std::printf("snapshots: removed %zu screen-NNN.png of an earlier run from %s\n", *removed, folder.c_str());
    std::fflush(stdout);  // before the receiver's own output
  }
  return true;
}

}  // namespace

bool Outputs::open(std::string& error) {
  if (auto refused = refusedOutput(outputPaths(options_), options_.module, options_.disk)) {
    error = *refused;
    return false;
  }
  if (!options_.snapshots.empty() &&
      (!makeFolder(options_.snapshots, error) || !clearSnapshots(options_.snapshots, error)))
    return false;
  if (!options_.checksums.empty() && !checksums_) {
    checksums_ = AtomicFile::create(options_.checksums, error);
    if (!checksums_) return false;
  }
  if (!options_.record.empty() && !record_) {
    record_ = AtomicFile::create(options_.record, error);
    if (!record_) return false;
  }
  std::error_code ec;
  const auto sheetFolder = std::filesystem::absolute(options_.contactSheet, ec).parent_path();
  if (!options_.contactSheet.empty() && !std::filesystem::is_directory(sheetFolder, ec)) {
    error = "cannot write " + options_.contactSheet.string() + ": no folder " + sheetFolder.string();
    return false;
  }
  return true;
}

bool Outputs::wantsFrames() const {
  return !options_.snapshots.empty() || checksums_.has_value() || !options_.contactSheet.empty();
}

bool Outputs::add(const Frame& frame, std::string& error) {
  if (failed_) return false;
  ++count_;
  failed_ = true;  // until this screen is out everywhere
  if (!options_.snapshots.empty()) {
    if (count_ == 1 && !makeFolder(options_.snapshots, error)) return false;
    char name[32];
    std::snprintf(name, sizeof name, "screen-%03zu.png", count_);
    // The file is made here, so a name that cannot be written stops the run at
    // once; the encoding goes on beside the run.
    auto file = AtomicFile::create(options_.snapshots / name, error);
    if (!file) return false;
    if (error = snapshots_.failure(); !error.empty()) return false;
    snapshots_.add(std::move(*file), frame);
  }
  if (checksums_ && !checksums_->write(checksumLine(count_, frame) + "\n")) {
    error = checksums_->error();
    return false;
  }
  if (!options_.contactSheet.empty()) sheet_.add(frame);
  failed_ = false;
  return true;
}

bool Outputs::finish(std::string& error) {
  if (const std::string failure = snapshots_.finish(); !failure.empty() && !failed_) {
    failed_ = true;
    checksums_.reset();
    error = failure;
    return false;
  }
  if (failed_) {
    checksums_.reset();  // this run's checksums would be partial: the earlier file stays
    record_.reset();
    return true;  // the failure was reported when it happened
  }
  if (checksums_ && !checksums_->commit(error)) return false;
  if (record_ && !(record_->write(formatKeyScript(presses_)) && record_->commit(error))) {
    if (error.empty()) error = record_->error();
    return false;
  }
  if (options_.contactSheet.empty() || sheet_.frameCount() == 0) return true;
  return sheet_.write(options_.contactSheet, error);
}

std::vector<std::string> Outputs::report() const {
  const std::string noScreen = "no screen was synced";
  std::vector<std::string> lines;
  if (!options_.snapshots.empty())
    lines.push_back(count_ > 0 ? "snapshots: " + std::to_string(count_) + " PNGs in " + options_.snapshots.string()
                               : "snapshots: none, " + noScreen + "; " + options_.snapshots.string() +
                                     " holds no screen-NNN.png");
  if (!options_.contactSheet.empty()) {
    std::error_code ec;
    const bool earlier = std::filesystem::exists(options_.contactSheet, ec);
    lines.push_back(count_ > 0 ? "contact sheet: " + options_.contactSheet.string()
                    : earlier  ? "contact sheet: none written, " + noScreen + "; " + options_.contactSheet.string() +
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
