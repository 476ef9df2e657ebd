#include "taplib.h"

enum : uint32_t { UTF8_PATH_SIZE = 256 };

// Whether the UTF-8 form of path, terminator included, fits size bytes.
static bool Utf8FormFits(const char* path, uint32_t size) {
  uint32_t needed = 1;
  for (; *path != '\0'; ++path) {
    needed += static_cast<uint8_t>(*path) < 0x80 ? 1 : 2;
    if (needed > size) return false;
  }
  return true;
}

extern "C" int32_t HDD_ChangeDir(const char* path) {
  static int32_t ReturnTypeToBeChecked = 1;
  static int32_t ChDirSuccessfull = 0;
  // The platform answers success with a value of its own; learn it once,
  // from a directory that is always there.
  if (ReturnTypeToBeChecked == 1) {
    ChDirSuccessfull = static_cast<int32_t>(TAP_Hdd_ChangeDir("/ProgramFiles"));
    ReturnTypeToBeChecked = 0;
  }
  if (path == nullptr) return 0;
  if (static_cast<int32_t>(TAP_Hdd_ChangeDir(path)) == ChDirSuccessfull) return 1;
  char utf8[UTF8_PATH_SIZE];
  if (!Utf8FormFits(path, sizeof utf8)) return 0;
  StrToUTF8(path, utf8);
  return static_cast<int32_t>(TAP_Hdd_ChangeDir(utf8)) == ChDirSuccessfull ? 1 : 0;
}
