// The TAP support library: task table access, key translation, the firmware
// database, directory services, the settings file locator and diagnostics.
#pragma once
#include <stdint.h>
#include "../frame/tap.h"

extern "C" {

enum : uint32_t {
  TAP_DIR_STACK_SLOTS = 16,
  TAP_PATH_SIZE = 200,  // 199 characters and the terminator
  FWDAT_MAGIC = 0x12345678,
};

// Why HDD_TAP_GetCurrentDir could not give the current directory.
enum : int32_t {
  TAP_DIR_NO_TASK_TABLE = -3,   // the firmware's task table or index is missing
  TAP_DIR_PATH_TOO_SHORT = -4,  // the firmware's path ends inside its prefix
  TAP_DIR_PATH_TOO_LONG = -5,   // the directory would not fit TAP_PATH_SIZE
};

// Where INILocateFile found a file.
enum FileFoundIn : int32_t {
  NotFound = 0,
  CurrentDir = 2,
  SettingsSubDir = 3,
  SettingsDir = 4,
  ProgramFilesDir = 5,
};

struct FirmwareDatHeader {
  uint32_t magic;
  uint32_t reserved0;
  uint32_t mustBeZero;
  uint32_t recordCount;
  uint32_t reserved1;
};

struct SysIdRecord {
  uint16_t sysId;
  uint8_t reserved0[318];
  int32_t remoteType;
  uint8_t reserved1[24];
};

static_assert(sizeof(FirmwareDatHeader) == 20, "database header is 20 bytes");
static_assert(sizeof(SysIdRecord) == 348, "database record is 348 bytes");
static_assert(__builtin_offsetof(SysIdRecord, remoteType) == 320, "remote type at 320");

extern int32_t RemoteType;
extern TapEventHandler Original_TAP_EventHandler;
extern int32_t LibInitialized;
extern uint16_t ApplID;
extern int32_t TAP_TableIndex;
extern char TAPDirStack[TAP_DIR_STACK_SLOTS][TAP_PATH_SIZE];
extern int32_t TAPDirStackDepth;
extern char puffer[512];
extern const char* __kxlib_version__;

void* TryResolve(const char* name);
void* FIS_vTAPTable(void);
int32_t* FIS_vcurTapTask(void);
int32_t InitTAPex(void);
uint16_t GetSysID(void);

void* TAP_MemAlloc_Chk(const char* caller, int32_t size);
void PrintNet(const char* text);

int32_t HDD_TAP_GetCurrentDir(char* dest);
int32_t HDD_TAP_PushDir(void);
int32_t HDD_TAP_PopDir(void);
int32_t HDD_ChangeDir(const char* path);
void StrToUTF8(const char* src, char* dest);
uint16_t CharToUTF8(const char* p);

int32_t INILocateFile(const char* name, const char* subdir);

int32_t LoadFirmwareDat(FirmwareDatHeader** header, SysIdRecord** records, uint8_t** rest);

int32_t KeyTranslate(int32_t install, TapEventHandler handler);
uint32_t KeyTranslateHook(uint32_t event, uint32_t param1, uint32_t param2);

}  // extern "C"
