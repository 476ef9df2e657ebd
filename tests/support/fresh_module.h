// A fresh life of the module for each test: a private copy of Quarnel.tap,
// loaded on its own, with typed access to its exported names. The copy's file
// is deleted as soon as it is loaded; the module is unloaded when the object
// goes (and the run ends loudly if it stays), so module statics start over.
#pragma once
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quarnel::test {

class FreshModule {
 public:
  // Loads a copy of the PC build of Quarnel.tap.
  FreshModule();
  explicit FreshModule(const std::filesystem::path& original);
  ~FreshModule();
  FreshModule(const FreshModule&) = delete;
  FreshModule& operator=(const FreshModule&) = delete;

  // The address of an exported name, or null when the module lacks it.
  void* find(std::string_view name) const;

  // A module variable by name: `module.variable<int32_t>("TAPDirStackDepth") = 3;`
  template <typename T>
  T& variable(std::string_view name) const {
    return *static_cast<T*>(require(name));
  }

  // A module function by name: `module.function<int32_t(const char*)>("HDD_ChangeDir")("/x")`
  template <typename Signature>
  Signature* function(std::string_view name) const {
    return reinterpret_cast<Signature*>(require(name));
  }

  // The name the copy was loaded under (the file itself is already gone).
  const std::filesystem::path& copyPath() const { return copy_; }

  // Where the PC build of the module lies.
  static std::filesystem::path builtModulePath();

 private:
  void* require(std::string_view name) const;

  std::filesystem::path copy_;
  void* handle_ = nullptr;
};

}  // namespace quarnel::test
