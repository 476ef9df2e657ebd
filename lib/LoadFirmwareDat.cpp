#include "taplib.h"

namespace {

enum : uint32_t {
  HEADER_SIZE = sizeof(FirmwareDatHeader),
  RECORD_SIZE = sizeof(SysIdRecord),
};

bool HeaderValid(const uint8_t* buffer, uint32_t length) {
  if (length < HEADER_SIZE) return false;
  const FirmwareDatHeader* header = reinterpret_cast<const FirmwareDatHeader*>(buffer);
  if (header->magic != FWDAT_MAGIC || header->mustBeZero != 0) return false;
  // Divided rather than multiplied, so no count can wrap the product.
  return header->recordCount <= (length - HEADER_SIZE) / RECORD_SIZE;
}

void HandOut(uint8_t* buffer, FirmwareDatHeader** header, SysIdRecord** records, uint8_t** rest) {
  FirmwareDatHeader* head = reinterpret_cast<FirmwareDatHeader*>(buffer);
  if (header != nullptr) *header = head;
  if (records != nullptr) *records = reinterpret_cast<SysIdRecord*>(buffer + HEADER_SIZE);
  const uint32_t end = HEADER_SIZE + RECORD_SIZE * head->recordCount;  // the count was checked against the length
  if (rest != nullptr) *rest = buffer + end;
}

}  // namespace

extern "C" int32_t LoadFirmwareDat(FirmwareDatHeader** header, SysIdRecord** records,
                                   uint8_t** rest) {
  static uint8_t* FWDATBin = nullptr;
  static uint32_t FWDATLength = 0;
  static const char name[] = "FirmwareTMS.dat";

  if (FWDATBin != nullptr) {
    if (!HeaderValid(FWDATBin, FWDATLength)) {
      TAP_MemFree(FWDATBin);
      FWDATBin = nullptr;
      return 0;
    }
    HandOut(FWDATBin, header, records, rest);
    return 1;
  }

  if (!HDD_TAP_PushDir()) return 0;
  if (INILocateFile(name, nullptr) == NotFound) {
    HDD_TAP_PopDir();
    return 0;
  }
  TapFile* file = TAP_Hdd_Fopen(name);
  if (file == nullptr) {
    HDD_TAP_PopDir();
    return 0;
  }
  const uint32_t allocated = TAP_Hdd_Flen(file);
  FWDATBin = static_cast<uint8_t*>(
      TAP_MemAlloc_Chk("LoadFirmwareDat", static_cast<int32_t>(allocated)));
  if (FWDATBin == nullptr) {
    TAP_Hdd_Fclose(file);
    HDD_TAP_PopDir();
    return 0;
  }
  // The file may have changed since the block was sized: never read past it.
  const uint32_t length = TAP_Hdd_Flen(file);
  const uint32_t ok = TAP_Hdd_Fread(FWDATBin, length < allocated ? length : allocated, 1, file);
  TAP_Hdd_Fclose(file);
  if (ok == 0 || length != allocated || !HeaderValid(FWDATBin, length)) {
    TAP_MemFree(FWDATBin);
    FWDATBin = nullptr;
    HDD_TAP_PopDir();
    return 0;
  }
  FWDATLength = length;
  HandOut(FWDATBin, header, records, rest);
  HDD_TAP_PopDir();
  return 1;
}
