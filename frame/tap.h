// The platform as a module sees it: every service is a data word in the
// platform library that holds the address of the function; the module calls
// through the word. The firmware (or the simulator, or a test) fills them.
#pragma once
#include <stdint.h>

extern "C" {

typedef uint32_t TapColour;  // ARGB: alpha 24..31, red 16..23, green 8..15, blue 0..7
typedef uint16_t TapRegion;  // OSD region handle
typedef struct TapFile TapFile;  // opaque disk file handle

typedef uint32_t (*TapEventHandler)(uint32_t event, uint32_t param1, uint32_t param2);
typedef int32_t (*TapMainFunction)(void);

// Handed to the start-up entry: slot 0 takes the main function, slot 1 the handler.
struct TapEntryPoints {
  void* slot[2];
};

enum : uint32_t {
  TAP_EVENT_KEY = 0x100,
  TAP_EVENT_MASK = 0xFFFF,
  TAP_KEY_CODE_MASK = 0x1FFFF,  // everything above is flag bits
  TAP_KEY_QUIT = 0x10017,
  TAP_KEY_NEXT_PAGE = 0x10045,
  TAP_KEY_PREVIOUS_PAGE = 0x10046,
};

enum : uint32_t { TAP_SCREEN_WIDTH = 720, TAP_SCREEN_HEIGHT = 576 };

extern TapRegion (*TAP_Osd_Create)(uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                                   uint32_t lutIndex, uint32_t flags);
extern int32_t (*TAP_Osd_FillBox)(TapRegion region, uint32_t x, uint32_t y, uint32_t width,
                                  uint32_t height, TapColour colour);
extern int32_t (*TAP_Osd_PutS)(TapRegion region, uint32_t x, uint32_t y, uint32_t maxX,
                               const char* text, TapColour foreground, TapColour background,
                               uint32_t fontType, uint32_t fontSize, uint32_t dotted,
                               uint32_t align);
extern int32_t (*TAP_Osd_Sync)(void);
extern int32_t (*TAP_Osd_Delete)(TapRegion region);

extern int32_t (*TAP_Channel_GetCurrent)(int32_t* first, int32_t* second);
extern int32_t (*TAP_Channel_Stop)(int32_t mainScreen);
extern int32_t (*TAP_Channel_Start)(int32_t mainScreen, int32_t first, int32_t second);

extern void (*TAP_SystemProc)(void);
extern int32_t (*TAP_SPrint)(char* buffer, const char* format, ...);
extern int32_t (*TAP_Print)(const char* format, ...);
extern void (*TAP_Sleep)(uint32_t duration);

extern void* (*TAP_MemAlloc)(uint32_t size);
extern int32_t (*TAP_MemFree)(void* block);

extern uint32_t (*TAP_GetSystemId)(void);
extern uint32_t (*TAP_GetVersion)(void);

extern int32_t (*TAP_Hdd_Exist)(const char* name);
extern TapFile* (*TAP_Hdd_Fopen)(const char* name);
extern uint32_t (*TAP_Hdd_Flen)(TapFile* file);
extern uint32_t (*TAP_Hdd_Fread)(void* buffer, uint32_t blockSize, uint32_t count, TapFile* file);
extern void (*TAP_Hdd_Fclose)(TapFile* file);
extern uint32_t (*TAP_Hdd_ChangeDir)(const char* path);

// What every module defines; the start-up entry reports the first two.
int32_t TAP_Main(void);
uint32_t TAP_EventHandler(uint32_t event, uint32_t param1, uint32_t param2);
int32_t __TAP_Init_(TapEntryPoints* entryPoints);

}  // extern "C"
