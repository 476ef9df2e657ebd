// What a receiver module may import besides the platform's entry words: the
// names the receiver's C library and loader export, read from the libraries a
// receiver build made, so that the list is the receiver's and not one
// module's needs. tapcheck, tapsim and the kit's link all go by these files.
#include <algorithm>

#include "elfmodule.h"
#include "internal.h"

namespace tapelf {

namespace {

// In the order the module names them; the platform library is not the C library.
constexpr std::string_view kSystemLibraryFiles[] = {"lib/libdl.so.0", "lib/libc.so.0"};

}  // namespace

bool SystemLibrary::provides(std::string_view name) const { return names.contains(std::string(name)); }

SystemLibrary readSystemLibrary(const std::filesystem::path& sysroot) {
  SystemLibrary library;
  std::vector<std::filesystem::path> read;
  for (const std::string_view file : kSystemLibraryFiles) {
    // One file under two names (a C library that keeps the loader's calls) is read once.
    std::error_code ec;
    const auto real = std::filesystem::canonical(sysroot / file, ec);
    if (!ec && std::ranges::find(read, real) != read.end()) continue;
    read.push_back(real);
    const auto inspection = inspect(sysroot / file, Code::skip);
    if (!inspection) {
      library.names.clear();
      library.error = "cannot read the receiver's C library: " + inspection.error;
      return library;
    }
    for (const Symbol& symbol : inspection.report->exported) library.names.insert(symbol.name);
  }
  return library;
}

std::vector<std::string> importsTheReceiverLacks(const ModuleReport& report, const SystemLibrary& library) {
  std::vector<std::string> lacking;
  for (const Symbol& symbol : report.undefined) {
    // A weak reference may stay unbound; the platform's words are checked against the platform library.
    if (symbol.weak || std::ranges::find(detail::kEntryWords, symbol.name) != detail::kEntryWords.end()) continue;
    if (!library.provides(symbol.name)) lacking.push_back(symbol.name);
  }
  return lacking;
}

}  // namespace tapelf
