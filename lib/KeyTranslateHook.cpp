#include "../frame/firmware.h"
#include "taplib.h"

extern "C" {

int32_t RemoteType = 1;
TapEventHandler Original_TAP_EventHandler = nullptr;

}  // extern "C"

namespace {

uint32_t TranslateKeyCode(uint32_t code) {
  static const struct {
    uint32_t in;
    uint32_t out;
  } table[] = {
      {0x10024, 0x10048}, {0x10025, 0x10045}, {0x10026, 0x10046}, {0x1003E, 0x10049},
      {0x1003F, 0x10047}, {0x10045, 0x10044}, {0x10047, 0x1003F}, {0x10048, 0x10024},
      {0x10049, 0x10025}, {0x1004A, 0x10026},
  };
  for (const auto& row : table)
    if (row.in == code) return row.out;
  return code;
}

bool ModelTranslatesKeys(uint16_t sysId) {
  switch (sysId) {
    case 32030:
    case 32031:
    case 33021:
    case 22120:
    case 22130:
      return true;
    default:
      return RemoteType == 2;
  }
}

void LearnRemoteType(void) {
  FirmwareDatHeader* header = nullptr;
  SysIdRecord* record = nullptr;
  if (!LoadFirmwareDat(&header, &record, nullptr) || header->recordCount == 0) return;
  for (uint32_t i = 0; i < header->recordCount; ++i, ++record) {
    // The whole word is compared: a system id with high bits matches no record.
    if (TAP_GetSystemId() == record->sysId) {
      RemoteType = record->remoteType;
      return;
    }
  }
}

}  // namespace

extern "C" {

int32_t KeyTranslate(int32_t install, TapEventHandler handler) {
  LearnRemoteType();
  TapTaskEntry* table = static_cast<TapTaskEntry*>(FIS_vTAPTable());
  if (table == nullptr) return 0;
  int32_t* current = FIS_vcurTapTask();
  if (current == nullptr) return 0;
  TapTaskEntry* entry = &table[*current];
  if (install) {
    // Wrapping nothing, or the hook itself, would leave the hook calling a
    // null address or itself forever.
    if (entry->handler != handler || handler == nullptr || handler == KeyTranslateHook) return 0;
    Original_TAP_EventHandler = entry->handler;
    __asm__ __volatile__("" ::: "memory");  // the hook must never run with a null target
    entry->handler = KeyTranslateHook;
    return 1;
  }
  if (entry->handler != KeyTranslateHook) return 0;
  entry->handler = Original_TAP_EventHandler;
  __asm__ __volatile__("" ::: "memory");
  Original_TAP_EventHandler = nullptr;
  return 1;
}

uint32_t KeyTranslateHook(uint32_t event, uint32_t param1, uint32_t param2) {
  const uint32_t code = event & TAP_EVENT_MASK;
  if (code != TAP_EVENT_KEY) return Original_TAP_EventHandler(code, param1, param2);
  uint32_t key = param1 & TAP_KEY_CODE_MASK;
  const uint32_t flags = param1 & ~TAP_KEY_CODE_MASK;
  if (ModelTranslatesKeys(GetSysID())) key = TranslateKeyCode(key);
  const uint32_t result = Original_TAP_EventHandler(TAP_EVENT_KEY, key | flags, param2);
  return result == 0 ? 0 : param1;
}

}  // extern "C"
