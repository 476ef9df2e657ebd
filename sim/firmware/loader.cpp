#include "loader.h"

#include <dlfcn.h>

#include <cstring>
#include <string_view>

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

// The mark every module for this receiver's platform carries, whatever the
// machine it was built for.
constexpr std::string_view kReceiverMark = "TFAPMIPS";

std::string printable(std::string text) {
  for (char& c : text)
    if (c < 0x20 || c > 0x7E) c = '?';
  return text;
}

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::load(const std::filesystem::path& file,
                                                 std::string& error) {
  // A module of its own namespace: its exported names never shadow ours.
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* given = dlerror();
    std::string reason = given ? given : "unknown reason";
    // The loader's reason starts with the file's name, which we give already.
    if (const std::string named = file.string() + ": "; reason.starts_with(named)) reason.erase(0, named.size());
    error = "cannot load " + file.string() + ": " + reason;
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
  if (records_.header != kReceiverMark) {
    error = records_.header.empty() ? "the module has no header record __tap_Header__"
                                    : "the module's header record __tap_Header__ starts with \"" +
                                          printable(records_.header) + "\", not this receiver's \"" +
                                          std::string(kReceiverMark) + "\"";
    return false;
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
