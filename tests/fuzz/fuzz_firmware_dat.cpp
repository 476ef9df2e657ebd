// Fuzz target: arbitrary bytes as "FirmwareTMS.dat", through the simulated
// disk and LoadFirmwareDat, with the file format library as the oracle.
//
// One process serves every input. The loader keeps its buffer in a static
// local; each input ends that life by spoiling the cached header, so the next
// call frees the buffer and the next input is read from the disk again. Any
// check that fails aborts, which libFuzzer reports as a crash.
#include <cstdio>
#include <cstdlib>
#include <span>

#include "fuzz_platform.h"
#include "fwdatfile.h"
#include "lib/taplib.h"

namespace {

using quarnel::fuzz::SecondLength;

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "firmware database fuzz check failed: %s\n", what);
  std::abort();
}

void checkNothingLeftOpen() {
  const auto& c = quarnel::fuzz::counters();
  check(c.opens == 1, "the load did not open the file exactly once");
  check(c.openFiles == 0, "the file was left open");
  check(TAPDirStackDepth == -1, "the directory stack was not popped exactly once");
  check(quarnel::fuzz::currentDirectory() == "/", "the current directory was not restored");
}

void walkRecords(const FirmwareDatHeader* header, const SysIdRecord* records, const uint8_t* rest,
                 std::span<const uint8_t> bytes) {
  const auto* base = reinterpret_cast<const uint8_t*>(header);
  const uint64_t end = fwdat::kHeaderSize + uint64_t{fwdat::kRecordSize} * header->recordCount;
  check(end <= bytes.size(), "accepted a file too short for its records");
  check(reinterpret_cast<const uint8_t*>(records) == base + fwdat::kHeaderSize,
        "records do not start at offset 20");
  check(rest == base + end, "rest does not point behind the last record");
  const auto expected = fwdat::parse(bytes).records;
  check(expected.size() == header->recordCount, "record count differs from the format library");
  for (size_t i = 0; i < expected.size(); ++i) {
    check(records[i].sysId == expected[i].sysId, "a system id differs from the file");
    check(records[i].remoteType == expected[i].remoteType, "a remote type differs from the file");
  }
}

// The key translation walks every record too; the system id word has a bit
// above 15, so no record matches and the remote type stays as it was.
void translateKeys() {
  RemoteType = 1;
  check(KeyTranslate(1, quarnel::fuzz::moduleHandler()) == 1, "install failed");
  check(KeyTranslate(0, nullptr) == 1, "remove failed");
  check(RemoteType == 1, "a record matched a system id with high bits");
}

void endDatabaseLife(FirmwareDatHeader* header) {
  header->magic = 0;
  check(LoadFirmwareDat(nullptr, nullptr, nullptr) == 0, "a spoiled cached header was accepted");
  check(quarnel::fuzz::counters().liveBlocks == 0, "the spoiled buffer was not freed");
}

bool load(std::span<const uint8_t> bytes, SecondLength second) {
  quarnel::fuzz::serveDatabase(bytes, second);
  FirmwareDatHeader* header = nullptr;
  SysIdRecord* records = nullptr;
  uint8_t* rest = nullptr;
  const int32_t result = LoadFirmwareDat(&header, &records, &rest);
  checkNothingLeftOpen();
  if (result == 0) {
    check(header == nullptr && records == nullptr && rest == nullptr,
          "a failed load wrote its out-parameters");
    check(quarnel::fuzz::counters().liveBlocks == 0, "a refused file was not freed");
    return false;
  }
  check(result == 1, "result is neither 0 nor 1");
  check(quarnel::fuzz::counters().liveBlocks == 1, "a loaded database is not one block");
  walkRecords(header, records, rest, bytes);
  translateKeys();
  check(quarnel::fuzz::counters().opens == 1, "a cached database was read again");
  endDatabaseLife(header);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (quarnel::fuzz::installPlatform(), true);
  (void)ready;
  const std::span<const uint8_t> bytes(data, size);
  const bool valid = fwdat::parse(bytes).accepted();
  check(load(bytes, SecondLength::Same) == valid, "loader and format library disagree");
  check(!load(bytes, SecondLength::Grown), "accepted a file that grew while it was read");
  if (size > 0) check(!load(bytes, SecondLength::Shrunk), "accepted a file that shrank");
  return 0;
}
