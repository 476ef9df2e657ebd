#include "outputs.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>

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

Outputs::Outputs(const FrontOptions& options) : options_(options) {}

Outputs::~Outputs() {
  if (checksums_) std::fclose(checksums_);
}

bool Outputs::open(std::string& error) {
  std::error_code ec;
  if (!options_.snapshots.empty()) {
    std::filesystem::create_directories(options_.snapshots, ec);
    if (ec) {
      error = "cannot make " + options_.snapshots.string() + ": " + ec.message();
      return false;
    }
  }
  if (!options_.checksums.empty() && checksums_ == nullptr) {
    checksums_ = std::fopen(options_.checksums.c_str(), "w");
    if (checksums_ == nullptr) {
      error = "cannot write " + options_.checksums.string() + ": " + std::strerror(errno);
      return false;
    }
  }
  const auto sheetFolder = std::filesystem::absolute(options_.contactSheet, ec).parent_path();
  if (!options_.contactSheet.empty() && !std::filesystem::is_directory(sheetFolder, ec)) {
    error = "cannot write " + options_.contactSheet.string() + ": no folder " + sheetFolder.string();
    return false;
  }
  return true;
}

bool Outputs::add(const Frame& frame, std::string& error) {
  ++count_;
  if (!options_.snapshots.empty()) {
    if (count_ == 1) {
      std::error_code ec;
      std::filesystem::create_directories(options_.snapshots, ec);
      if (ec) {
        error = "cannot make " + options_.snapshots.string() + ": " + ec.message();
        return false;
      }
    }
    char name[32];
    std::snprintf(name, sizeof name, "screen-%03zu.png", count_);
    if (!writePng(options_.snapshots / name, frame, kScreenWidth, kScreenHeight, error)) return false;
  }
  if (!options_.checksums.empty()) {
    if (checksums_ == nullptr) checksums_ = std::fopen(options_.checksums.c_str(), "w");
    if (checksums_ == nullptr) {
      error = "cannot write " + options_.checksums.string() + ": " + std::strerror(errno);
      return false;
    }
    std::fprintf(checksums_, "%s\n", checksumLine(count_, frame).c_str());
  }
  if (!options_.contactSheet.empty()) sheet_.add(frame);
  return true;
}

bool Outputs::finish(std::string& error) {
  if (checksums_ != nullptr && std::fclose(checksums_) != 0) {
    checksums_ = nullptr;
    error = "cannot finish " + options_.checksums.string();
    return false;
  }
  checksums_ = nullptr;
  if (options_.contactSheet.empty() || sheet_.frameCount() == 0) return true;
  return sheet_.write(options_.contactSheet, error);
}

std::vector<std::string> Outputs::report() const {
  std::vector<std::string> lines;
  if (!options_.snapshots.empty())
    lines.push_back("snapshots: " + std::to_string(count_) + " PNGs in " + options_.snapshots.string());
  if (!options_.contactSheet.empty() && count_ > 0)
    lines.push_back("contact sheet: " + options_.contactSheet.string());
  if (!options_.checksums.empty()) lines.push_back("checksums: " + options_.checksums.string());
  return lines;
}

}  // namespace tapsim
