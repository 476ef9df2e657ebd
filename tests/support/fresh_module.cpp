#include "fresh_module.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace quarnel::test {
namespace {

std::filesystem::path uniqueCopyOf(const std::filesystem::path& original) {
  if (!std::filesystem::is_regular_file(original))
    throw std::runtime_error("module file not found: " + original.string());
  std::string pattern = (std::filesystem::temp_directory_path() / "quarnel-XXXXXX.tap").string();
  const int fd = mkstemps(pattern.data(), 4);
  if (fd < 0) throw std::runtime_error("cannot create a temporary copy of " + original.string());
  close(fd);
  std::filesystem::copy_file(original, pattern, std::filesystem::copy_options::overwrite_existing);
  return pattern;
}

std::string lastLoaderError() {
  const char* error = dlerror();
  return error != nullptr ? error : "unknown loader error";
}

}  // namespace

std::filesystem::path FreshModule::builtModulePath() { return QUARNEL_MODULE_PATH; }

FreshModule::FreshModule() : FreshModule(builtModulePath()) {}

FreshModule::FreshModule(const std::filesystem::path& original) : copy_(uniqueCopyOf(original)) {
  handle_ = dlopen(copy_.c_str(), RTLD_NOW | RTLD_LOCAL);
  // Gone from the disk at once, so that a test run that dies leaves nothing
  // behind; the loader keeps the mapping and still knows the object by name.
  std::error_code ignored;
  std::filesystem::remove(copy_, ignored);
  if (handle_ == nullptr)
    throw std::runtime_error("cannot load " + original.string() + ": " + lastLoaderError());
}

FreshModule::~FreshModule() {
  dlclose(handle_);
  // A module that stays mapped would carry its statics into the next test.
  void* lingering = dlopen(copy_.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (lingering != nullptr) {
    std::fprintf(stderr, "FreshModule: %s is still loaded after dlclose; module state would leak "
                 "between tests (unique symbols or a nodelete flag?)\n", copy_.c_str());
    std::abort();
  }
}

void* FreshModule::find(std::string_view name) const {
  return dlsym(handle_, std::string(name).c_str());
}

void* FreshModule::require(std::string_view name) const {
  void* address = find(name);
  if (address == nullptr) throw std::runtime_error("the module does not export " + std::string(name));
  return address;
}

}  // namespace quarnel::test
