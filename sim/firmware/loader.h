#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "../../frame/tap.h"

namespace tapsim {

// What a module says of itself in its identification records.
struct ModuleRecords {
  std::string header;  // the eight marker characters
  uint32_t headerValue = 0;
  uint32_t applicationId = 0;
  std::string name, version, author, description, buildDate;
};

// A module file opened the firmware's way: records read by name, then the
// start-up entry asked for the main function and the event handler.
class LoadedModule {
 public:
  static std::unique_ptr<LoadedModule> load(const std::filesystem::path& file, std::string& error);
  explicit LoadedModule(void* dlHandle) : handle_(dlHandle) {}  // takes over the handle
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  void* symbol(const char* name) const;
  const ModuleRecords& records() const { return records_; }
  TapMainFunction main() const { return main_; }
  TapEventHandler handler() const { return handler_; }

 private:
  bool start(std::string& error);
  void* handle_;
  ModuleRecords records_;
  TapMainFunction main_ = nullptr;
  TapEventHandler handler_ = nullptr;
};

}  // namespace tapsim
