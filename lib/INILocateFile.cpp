#include <stddef.h>

#include "taplib.h"

extern "C" {
void* memset(void* dest, int value, size_t size);
char* strcpy(char* dest, const char* src);
}

// Looks in "/ProgramFiles", then "Settings" below it, then the caller's own
// directory below that; each find overrides the one before. Says where the
// directory should go back to when the search is over (empty: stay).
static int32_t SearchStandardPlaces(const char* name, const char* subdir, char* returnTo) {
  int32_t found = NotFound;
  if (!HDD_ChangeDir("/ProgramFiles")) return found;
  if (TAP_Hdd_Exist(name)) {
    found = ProgramFilesDir;
    strcpy(returnTo, "/ProgramFiles");
  }
  if (!HDD_ChangeDir("Settings")) return found;
  if (TAP_Hdd_Exist(name)) {
    found = SettingsDir;
    strcpy(returnTo, "/ProgramFiles/Settings");
  }
  if (subdir == nullptr || subdir[0] == '\0' || subdir[0] == '/') return found;
  if (HDD_ChangeDir(subdir) && TAP_Hdd_Exist(name)) {
    found = SettingsSubDir;
    returnTo[0] = '\0';
  }
  return found;
}

extern "C" int32_t INILocateFile(const char* name, const char* subdir) {
  char returnTo[TAP_PATH_SIZE];
  memset(returnTo, 0, sizeof returnTo);
  if (name == nullptr) return NotFound;
  if (TAP_Hdd_Exist(name)) return CurrentDir;
  HDD_TAP_GetCurrentDir(returnTo);
  const int32_t found = SearchStandardPlaces(name, subdir, returnTo);
  if (returnTo[0] != '\0') HDD_ChangeDir(returnTo);
  return found;
}
