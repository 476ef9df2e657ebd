#include "loader.h"

#include <dlfcn.h>

#include <cstring>

namespace tapsim {
namespace {

std::string textRecord(const LoadedModule& module, const char* name, size_t size) {
  const auto* bytes = static_cast<const char*>(module.symbol(name));
  if (bytes == nullptr) return {};
  return std::string(bytes, strnlen(bytes, size));
}

uint32_t wordAt(const void* bytes) {
  uint32_t value = 0;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::load(const std::filesystem::path& file,
                                                 std::string& error) {
  // A module of its own namespace: its exported names never shadow ours.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    error = "cannot load " + file.string() + ": " + (reason ? reason : "unknown reason");
    return nullptr;
  }
  auto module = std::make_unique<LoadedModule>(handle);
  if (!module->start(error)) return nullptr;
  return module;
}

LoadedModule::~LoadedModule() { dlclose(handle_); }

void* LoadedModule::symbol(const char* name) const {
  dlerror();
  void* address = dlsym(handle_, name);
  return dlerror() == nullptr ? address : nullptr;
}

bool LoadedModule::start(std::string& error) {
  if (const auto* header = static_cast<const char*>(symbol("__tap_Header__"))) {
    records_.header.assign(header, 8);
    records_.headerValue = wordAt(header + 8);
  }
  if (const void* id = symbol("__tap_ud__")) records_.applicationId = wordAt(id);
  records_.name = textRecord(*this, "__tap_program_name__", 64);
  records_.version = textRecord(*this, "__tap_program_version__", 64);
  records_.author = textRecord(*this, "__tap_author_name__", 64);
  records_.description = textRecord(*this, "__tap_description__", 128);
  records_.buildDate = textRecord(*this, "__tap_etc_str__", 64);

  using StartUp = int32_t (*)(TapEntryPoints*);
  auto startUp = reinterpret_cast<StartUp>(symbol("__TAP_Init_"));
  if (startUp == nullptr) {
    error = "the module has no start-up entry __TAP_Init_";
    return false;
  }
  TapEntryPoints entries{};
  startUp(&entries);
  main_ = reinterpret_cast<TapMainFunction>(entries.slot[0]);
  handler_ = reinterpret_cast<TapEventHandler>(entries.slot[1]);
  if (main_ == nullptr) {
    error = "the module's start-up entry reported no main function";
    return false;
  }
  return true;
}

}  // namespace tapsim
