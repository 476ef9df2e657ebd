#include "../../frame/tap.h"

extern "C" {

TapRegion (*TAP_Osd_Create)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) = nullptr;
int32_t (*TAP_Osd_FillBox)(TapRegion, uint32_t, uint32_t, uint32_t, uint32_t, TapColour) = nullptr;
int32_t (*TAP_Osd_PutS)(TapRegion, uint32_t, uint32_t, uint32_t, const char*, TapColour, TapColour,
                        uint32_t, uint32_t, uint32_t, uint32_t) = nullptr;
int32_t (*TAP_Osd_Sync)(void) = nullptr;
int32_t (*TAP_Osd_Delete)(TapRegion) = nullptr;

int32_t (*TAP_Channel_GetCurrent)(int32_t*, int32_t*) = nullptr;
int32_t (*TAP_Channel_Stop)(int32_t) = nullptr;
int32_t (*TAP_Channel_Start)(int32_t, int32_t, int32_t) = nullptr;

void (*TAP_SystemProc)(void) = nullptr;
int32_t (*TAP_SPrint)(char*, const char*, ...) = nullptr;
int32_t (*TAP_Print)(const char*, ...) = nullptr;
void (*TAP_Sleep)(uint32_t) = nullptr;

void* (*TAP_MemAlloc)(uint32_t) = nullptr;
int32_t (*TAP_MemFree)(void*) = nullptr;

uint32_t (*TAP_GetSystemId)(void) = nullptr;
uint32_t (*TAP_GetVersion)(void) = nullptr;

int32_t (*TAP_Hdd_Exist)(const char*) = nullptr;
TapFile* (*TAP_Hdd_Fopen)(const char*) = nullptr;
uint32_t (*TAP_Hdd_Flen)(TapFile*) = nullptr;
uint32_t (*TAP_Hdd_Fread)(void*, uint32_t, uint32_t, TapFile*) = nullptr;
void (*TAP_Hdd_Fclose)(TapFile*) = nullptr;
uint32_t (*TAP_Hdd_ChangeDir)(const char*) = nullptr;

}  // extern "C"
