// The firmware's own structures that the support library reaches into.
// They belong to the firmware; the simulator builds them the same way.
#pragma once
#include <stdint.h>
#include "tap.h"

extern "C" {

struct TapDirRecord {
  uint32_t reserved;
  char* path;  // firmware prefix of 7 characters, then the disk path from "/"
};

struct TapTaskEntry {
  uint8_t reserved0[20];
  TapEventHandler handler;
  uint8_t reserved1[16];
  TapDirRecord* dirRecord;
};

enum : uint32_t { TAP_DIR_PREFIX_LENGTH = 7 };

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(TapTaskEntry) == 44, "the firmware's entry is 44 bytes");
static_assert(__builtin_offsetof(TapTaskEntry, handler) == 20, "handler at 20");
static_assert(__builtin_offsetof(TapTaskEntry, dirRecord) == 40, "directory record at 40");
static_assert(__builtin_offsetof(TapDirRecord, path) == 4, "path at 4");
#endif

}  // extern "C"
