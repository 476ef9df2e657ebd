#include "parts.h"

#include <dlfcn.h>

#include <utility>

namespace tapsim {
namespace {

std::string unusable(const PartFile& part, std::string_view why) {
  return "cannot load " + std::string(part.what) + " " + part.path.string() + " (" + std::string(why) + "); " +
         part.remedy;
}

}  // namespace

std::optional<std::string> missingPart(const PartFile& part) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(part.path, ec)) return std::nullopt;
  return unusable(part, "it is not there");
}

std::optional<LoadedPart> LoadedPart::load(const PartFile& part, const char* entryName, std::string& error) {
  if (const auto missing = missingPart(part)) {
    error = *missing;
    return std::nullopt;
  }
  // Never unloaded: SDL and the libraries it brings are not made to be.
  void* handle = dlopen(part.path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* why = dlerror();
    error = unusable(part, why != nullptr ? why : "the loader gave no reason");
    return std::nullopt;
  }
  void* entry = dlsym(handle, entryName);
  if (entry == nullptr) {
    dlclose(handle);
    error = unusable(part, "it has no entry " + std::string(entryName));
    return std::nullopt;
  }
  return LoadedPart(handle, entry);
}

LoadedPart::LoadedPart(LoadedPart&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), entry_(std::exchange(other.entry_, nullptr)) {}

LoadedPart& LoadedPart::operator=(LoadedPart&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    entry_ = std::exchange(other.entry_, nullptr);
  }
  return *this;
}

LoadedPart::~LoadedPart() {
  if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace tapsim
