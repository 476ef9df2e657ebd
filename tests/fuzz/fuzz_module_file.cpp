// Fuzz target: arbitrary bytes as a module file, through the reader tapcheck
// uses, then judged by the receiver's rules and this PC's and put in words the
// way tapcheck prints them. The reader may refuse a file but must say why,
// and whatever it reports must come from the file.
#include <elf.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "elfmodule.h"
#include "fuzz_input.h"

namespace {

constexpr const char* kTarget = "module file";
constexpr std::string_view kName = "fuzz.tap";

void check(bool condition, const char* what) { quarnel::fuzz::check(condition, kTarget, what); }

// A record's content is a piece of the file, never something made up.
bool comesFromFile(const std::vector<std::uint8_t>& piece, std::span<const uint8_t> file) {
  if (piece.empty()) return true;
  const std::boyer_moore_horspool_searcher searcher(piece.begin(), piece.end());
  return std::search(file.begin(), file.end(), searcher) != file.end();
}

void checkRecords(const tapelf::ModuleReport& report, std::span<const uint8_t> file) {
  const auto layouts = tapelf::recordLayouts();
  check(report.records.size() == layouts.size(), "not one record per layout");
  for (size_t i = 0; i < report.records.size(); ++i) {
    const tapelf::Record& record = report.records[i];
    check(record.layout.symbol == layouts[i].symbol, "records out of the platform's order");
    check(record.bytes.empty() || record.bytes.size() == record.symbolSize, "record content of another size");
    check(comesFromFile(record.bytes, file), "record content that is not in the file");
    check(!tapelf::describeRecord(record).empty(), "a record described by nothing");
    check(tapelf::findRecord(report, record.layout.symbol) == &record, "a record that cannot be found");
  }
}

size_t wordsLength(const tapelf::ModuleReport& report) {
  size_t length = tapelf::machineName(report.machine).size() + tapelf::abiDescription(report).size() +
                  tapelf::typeName(report.type).size();
  for (const auto& record : report.records) length += tapelf::recordText(record).size();
  for (const auto& symbol : report.exported)
    check(tapelf::findExported(report, symbol.name) != nullptr, "an exported symbol that cannot be found");
  return length;
}

// The processor check: only for the receiver's kind of file, every finding
// named in full, its word taken from the file, and each one a receiver problem.
void checkCode(const tapelf::ModuleReport& report, std::span<const uint8_t> file) {
  const bool receiverKind = report.machine == EM_MIPS && report.elfClass == 32 && report.littleEndian;
  check(report.codeChecked == receiverKind, "code checked for the wrong kind of file");
  check(report.codeChecked || report.codeFindings.empty(), "code findings without a check");
  for (const tapelf::CodeFinding& finding : report.codeFindings) {
    check(!finding.mnemonic.empty() && finding.instruction.starts_with(finding.mnemonic), "an unnamed instruction");
    check(!finding.function.empty() && !finding.why.empty(), "a finding without function or reason");
    const std::vector<std::uint8_t> word{static_cast<std::uint8_t>(finding.word), static_cast<std::uint8_t>(finding.word >> 8),
                                         static_cast<std::uint8_t>(finding.word >> 16),
                                         static_cast<std::uint8_t>(finding.word >> 24)};
    check(comesFromFile(word, file), "an instruction word that is not in the file");
  }
  if (report.codeFindings.empty()) return;
  const auto problems = tapelf::problems(report, tapelf::Rules::receiver);
  const std::string first = tapelf::findingLine(report.path, report.codeFindings.front());
  check(std::ranges::any_of(problems, [&](const std::string& p) { return p.starts_with(first); }),
        "a code finding the receiver's rules do not name");
}

void judge(const tapelf::ModuleReport& report) {
  for (const auto rules : {tapelf::Rules::receiver, tapelf::Rules::pc})
    for (const std::string& problem : tapelf::problems(report, rules))
      check(!problem.empty(), "an empty problem line");
  const auto rules = tapelf::rulesFor(report);
  check(rules == tapelf::Rules::receiver || rules == tapelf::Rules::pc, "rules of neither kind");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> file(data, size);
  const auto inspection = tapelf::inspectBytes(std::as_bytes(file), kName);
  if (!inspection) {
    check(inspection.error.starts_with(std::string(kName) + ": ") && inspection.error.size() > kName.size() + 2,
          "a refusal without a reason");
    return 0;
  }
  check(inspection.error.empty(), "a report that comes with an error");
  const tapelf::ModuleReport& report = *inspection.report;
  check(report.fileSize == size, "a report of another file size");
  check(report.elfClass == 32 || report.elfClass == 64, "an ELF class other than 32 or 64");
  check(report.path == kName, "a report of another file");
  checkRecords(report, file);
  checkCode(report, file);
  check(wordsLength(report) > 0, "a report in no words");
  judge(report);
  return 0;
}
