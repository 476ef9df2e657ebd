#include "../frame/firmware.h"
#include "taplib.h"

extern "C" char* strcpy(char* dest, const char* src);

// The firmware's path is "<7-character prefix>/disk/path". Scans it once, up to
// its terminator and never further, and says whether the disk part fits a
// slot: a path that ends inside the prefix or would not fit is refused.
static int32_t CheckFirmwarePath(const char* path) {
  uint32_t i = 0;
  for (; i < TAP_DIR_PREFIX_LENGTH; ++i)
    if (path[i] == '\0') return TAP_DIR_PATH_TOO_SHORT;
  for (uint32_t length = 0; path[i] != '\0'; ++i, ++length)
    if (length + 1 >= TAP_PATH_SIZE) return TAP_DIR_PATH_TOO_LONG;
  return 0;
}

extern "C" int32_t HDD_TAP_GetCurrentDir(char* dest) {
  const TapTaskEntry* table = static_cast<const TapTaskEntry*>(FIS_vTAPTable());
  const int32_t* current = FIS_vcurTapTask();
  if (table == nullptr || current == nullptr) {
    if (dest != nullptr) dest[0] = '\0';
    return TAP_DIR_NO_TASK_TABLE;
  }
  if (dest == nullptr) return 0;
  const TapDirRecord* record = table[*current].dirRecord;
  if (record == nullptr || record->path == nullptr) return 0;
  const int32_t refused = CheckFirmwarePath(record->path);
  if (refused != 0) {
    dest[0] = '\0';
    return refused;
  }
  strcpy(dest, record->path + TAP_DIR_PREFIX_LENGTH);
  return 0;
}
