// fwdat: makes and inspects firmware database files ("FirmwareTMS.dat").
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fwdatfile.h"
#include "quarnel_version.h"

namespace {

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2 };

constexpr std::string_view kUsageText =
    "Usage: fwdat create OUT [--model ID:REMOTE]... [--default-models] [--force]\n"
    "  or:  fwdat show FILE\n"
    "\n"
    "Commands:\n"
    "  create OUT          write a database with one record per --model, in the\n"
    "                      order given; OUT appears whole or not at all, and a\n"
    "                      failed write leaves an earlier OUT as it was\n"
    "  show FILE           print the header and the records, and why the module\n"
    "                      would refuse the file if it would (one larger than a\n"
    "                      receiver's memory for a module is refused); exits 1\n"
    "                      for a refused file; reads only what it shows\n"
    "\n"
    "Options of create:\n"
    "  --model ID:REMOTE   one model: system id 0..65535, remote type a 32-bit\n"
    "                      integer\n"
    "  --default-models    add the simulator's default models\n"
    "  --force             replace an existing OUT; a symbolic link is then\n"
    "                      replaced by the file, never written through\n"
    "\n"
    "  --help              show this text\n"
    "  --version           print fwdat's version\n";

int usageError(std::string_view message) {
  std::cerr << "fwdat: " << message << " (try fwdat --help)\n";
  return kUsage;
}

int failure(std::string_view message) {
  std::cerr << "fwdat: " << message << "\n";
  return kFailed;
}

bool isHelp(std::string_view arg) { return arg == "--help" || arg == "-h"; }

int create(const std::vector<std::string_view>& args) {
  std::optional<std::string> out;
  std::vector<fwdat::ModelRecord> models;
  bool force = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--model") {
      if (i + 1 == args.size()) return usageError("--model needs ID:REMOTE");
      std::string error;
      const auto model = fwdat::parseModelArgument(args[++i], error);
      if (!model) return usageError(error);
      models.push_back(*model);
    } else if (args[i] == "--force") {
      force = true;
    } else if (args[i] == "--default-models") {
      const auto defaults = fwdat::defaultModels();
      models.insert(models.end(), defaults.begin(), defaults.end());
    } else if (args[i].starts_with("-")) {
      return usageError("unknown option '" + std::string(args[i]) + "'");
    } else if (out) {
      return usageError("more than one output file");
    } else {
      out = std::string(args[i]);
    }
  }
  if (!out) return usageError("create needs an output file");
  std::error_code ec;
  if (!force && std::filesystem::is_regular_file(std::filesystem::symlink_status(*out, ec)))
    return failure(*out + " exists; --force replaces it");
  if (!force && std::filesystem::is_symlink(std::filesystem::symlink_status(*out, ec)))
    return failure(*out + " exists (a symbolic link); --force replaces the link with the file");
  std::string error;
  if (!fwdat::writeFile(*out, models, error, force)) return failure(error);
  return kOk;
}

std::string hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v));
  return text;
}

void printHeader(const fwdat::Header& h) {
  std::cout << "header\n"
            << "  magic        " << hex32(h.magic) << "\n"
            << "  word at 4    " << hex32(h.word4) << "\n"
            << "  word at 8    " << hex32(h.word8) << "\n"
            << "  records      " << h.recordCount << "\n"
            << "  word at 16   " << hex32(h.word16) << "\n";
}

void printRecords(const fwdat::Contents& c) {
  std::cout << "records\n";
  if (c.header && c.header->recordCount == 0) std::cout << "  (none)\n";
  for (size_t i = 0; i < c.records.size(); ++i)
    std::cout << "  " << i << ": system id " << c.records[i].sysId << ", remote type "
              << c.records[i].remoteType << "\n";
  if (!c.header) return;
  const uint64_t inFile = std::min<uint64_t>(c.header->recordCount, (c.fileSize - fwdat::kHeaderSize) / fwdat::kRecordSize);
  if (c.records.size() < inFile)
    std::cout << "  (" << inFile - c.records.size() << " more records not shown: past the "
              << fwdat::kLargestLoadable << " bytes a module could load)\n";
  if (inFile < c.header->recordCount)
    std::cout << "  (" << c.header->recordCount - inFile << " more counted records lie past the end of the file)\n";
}

std::string joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& part : parts) all += (all.empty() ? "" : "; ") + part;
  return all;
}

int show(const std::vector<std::string_view>& args) {
  if (args.size() != 1 || args[0].starts_with("-"))
    return usageError("show needs exactly one file");
  const std::string path(args[0]);
  std::string error;
  const auto inspected = fwdat::inspectFile(path, error);
  if (!inspected) return failure(error);
  const fwdat::Contents& contents = *inspected;
  std::cout << path << ": " << contents.fileSize << " bytes\n";
  if (contents.header) {
    printHeader(*contents.header);
    printRecords(contents);
    if (contents.accepted()) std::cout << "data behind the records: " << contents.trailingBytes << " bytes\n";
  }
  for (const auto& note : contents.notes) std::cout << "note: " << note << "\n";
  if (contents.accepted()) {
    std::cout << "verdict: accepted\n";
    return kOk;
  }
  std::cout << "verdict: rejected\n";
  for (const auto& reason : contents.rejections) std::cout << "  " << reason << "\n";
  return failure(path + " would be rejected: " + joined(contents.rejections));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty()) return usageError("no command");
  for (const auto arg : args)
    if (isHelp(arg)) {
      std::cout << kUsageText;
      return kOk;
    }
  if (args[0] == "--version") {
    std::cout << "fwdat " << QUARNEL_VERSION << "\n";
    return kOk;
  }
  const std::vector<std::string_view> rest(args.begin() + 1, args.end());
  if (args[0] == "create") return create(rest);
  if (args[0] == "show") return show(rest);
  return usageError("unknown command '" + std::string(args[0]) + "'");
}
