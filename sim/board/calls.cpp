// The platform's entry words as the board fills them. What must happen in the
// module's memory happens here (allocating, copying bytes read from the disk,
// formatting text); everything else goes to the host as a message.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../../frame/tap.h"
#include "board.h"
#include "link.h"

namespace {

// The blocks the module holds, so that the board can give them all back at
// the end, as the receiver reclaims a module's memory.
void** heldBlocks = nullptr;
size_t heldCount = 0, heldRoom = 0;

void hold(void* block) {
  if (heldCount == heldRoom) {
    const size_t room = heldRoom == 0 ? 16 : heldRoom * 2;
    void** grown = (void**)realloc(heldBlocks, room * sizeof(void*));
    if (grown == nullptr) return;
    heldBlocks = grown;
    heldRoom = room;
  }
  heldBlocks[heldCount++] = block;
}

void letGo(void* block) {
  for (size_t i = heldCount; i-- > 0;) {
    if (heldBlocks[i] != block) continue;
    heldBlocks[i] = heldBlocks[--heldCount];
    return;
  }
}

uint32_t textLength(const char* text) { return text == nullptr ? 0 : (uint32_t)strlen(text); }

// The text and a terminator, so the host can tell a cut text from a whole
// one; a null text sends nothing (the arguments say it was null).
uint32_t textPayload(const char* text) {
  const uint32_t length = textLength(text);
  if (text == nullptr) return 0;
  return length < WIRE_MAX_PAYLOAD ? length + 1 : length;
}

void postWithText(uint32_t call, const uint32_t* args, uint32_t count, const char* text) {
  boardPost(call, args, count, text, textPayload(text));
}

const uint32_t* askWithText(uint32_t call, const uint32_t* args, uint32_t count, const char* text) {
  return boardAsk(call, args, count, text, textPayload(text));
}

TapRegion osdCreate(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t lut, uint32_t flags) {
  const uint32_t args[] = {x, y, width, height, lut, flags};
  return (TapRegion)boardAsk(WIRE_OSD_CREATE, args, 6, nullptr, 0)[0];
}

int32_t osdFillBox(TapRegion region, uint32_t x, uint32_t y, uint32_t width, uint32_t height, TapColour colour) {
  const uint32_t args[] = {region, x, y, width, height, colour};
  boardPost(WIRE_OSD_FILLBOX, args, 6, nullptr, 0);
  return 0;
}

int32_t osdPutS(TapRegion region, uint32_t x, uint32_t y, uint32_t maxX, const char* text, TapColour foreground,
                TapColour background, uint32_t fontType, uint32_t fontSize, uint32_t dotted, uint32_t align) {
  const uint32_t args[] = {region,   x,      y,     maxX, foreground, background, fontType,
                           fontSize, dotted, align, text == nullptr};
  postWithText(WIRE_OSD_PUTS, args, 11, text);
  return 0;
}

int32_t osdSync(void) {
  const uint32_t args[] = {boardPageNumber()};
  boardPost(WIRE_OSD_SYNC, args, 1, nullptr, 0);
  boardRing();  // a screen is worth showing at once
  return 0;
}

int32_t osdDelete(TapRegion region) {
  const uint32_t args[] = {region};
  boardPost(WIRE_OSD_DELETE, args, 1, nullptr, 0);
  return 0;
}

int32_t channelGetCurrent(int32_t* first, int32_t* second) {
  const uint32_t* answer = boardAsk(WIRE_CHANNEL_GETCURRENT, nullptr, 0, nullptr, 0);
  if (first != nullptr) *first = (int32_t)answer[0];
  if (second != nullptr) *second = (int32_t)answer[1];
  return 1;
}

int32_t channelStop(int32_t mainScreen) {
  const uint32_t args[] = {(uint32_t)mainScreen};
  boardPost(WIRE_CHANNEL_STOP, args, 1, nullptr, 0);
  return 1;
}

int32_t channelStart(int32_t mainScreen, int32_t first, int32_t second) {
  const uint32_t args[] = {(uint32_t)mainScreen, (uint32_t)first, (uint32_t)second};
  boardPost(WIRE_CHANNEL_START, args, 3, nullptr, 0);
  return 1;
}

void systemProc(void) { boardTurn(); }

// Formats into the module's memory as the receiver would, then tells the host
// what came out. A print shows at most WIRE_PRINT_MOST characters, and the
// module is told how many it showed; the format travels in what room is left.
int32_t formatCall(uint32_t call, char* buffer, const char* format, va_list args) {
  char small[256];
  int length = 0;
  char* text = small;
  if (format != nullptr) {
    va_list measure;
    va_copy(measure, args);
    length = vsnprintf(small, sizeof small, format, measure);
    va_end(measure);
    if (length < 0) length = 0;
    if ((size_t)length >= sizeof small) {
      text = (char*)malloc((size_t)length + 1);
      if (text == nullptr) {
        text = small;
        length = (int)sizeof small - 1;
      } else {
        vsnprintf(text, (size_t)length + 1, format, args);
      }
    }
  } else {
    small[0] = '\0';
  }
  // Unbounded like the receiver's: the caller promises the room.
  if (buffer != nullptr) memcpy(buffer, text, (size_t)length + 1);
  const uint32_t sent = (uint32_t)length < WIRE_PRINT_MOST ? (uint32_t)length : WIRE_PRINT_MOST;
  uint32_t formatLength = textLength(format);
  if (formatLength > WIRE_MAX_PAYLOAD - 1 - sent) formatLength = WIRE_MAX_PAYLOAD - 1 - sent;
  const uint32_t total = formatLength + 1 + sent;
  char* payload = (char*)malloc(total);
  if (payload != nullptr) {
    if (format != nullptr) memcpy(payload, format, formatLength);
    payload[formatLength] = '\0';
    memcpy(payload + formatLength + 1, text, sent);
  }
  const uint32_t sprintArgs[] = {lowWord(buffer), highWord(buffer), (uint32_t)length, format == nullptr};
  const uint32_t printArgs[] = {sent, format == nullptr, (uint32_t)length};
  if (call == WIRE_SPRINT)
    boardPost(call, sprintArgs, 4, payload, payload ? total : 0);
  else
    boardPost(call, printArgs, 3, payload, payload ? total : 0);
  free(payload);
  if (text != small) free(text);
  if (call == WIRE_SPRINT) return buffer == nullptr ? -1 : length;
  return (int32_t)sent;
}

int32_t sprint(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t result = formatCall(WIRE_SPRINT, buffer, format, args);
  va_end(args);
  return result;
}

int32_t print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t result = formatCall(WIRE_PRINT, nullptr, format, args);
  va_end(args);
  return result;
}

void sleepCall(uint32_t duration) {
  const uint32_t args[] = {duration};
  boardPost(WIRE_SLEEP, args, 1, nullptr, 0);
}

void* memAlloc(uint32_t size) {
  // More than a receiver could give is refused before it touches our heap.
  void* block = size <= boardWire->memoryLimit ? malloc(size == 0 ? 1 : size) : nullptr;
  const uint32_t args[] = {size, lowWord(block), highWord(block)};
  if (boardAsk(WIRE_MEMALLOC, args, 3, nullptr, 0)[0] != 0) {
    hold(block);
    return block;
  }
  free(block);
  return nullptr;
}

int32_t memFree(void* block) {
  const uint32_t args[] = {lowWord(block), highWord(block)};
  const uint32_t known = boardAsk(WIRE_MEMFREE, args, 2, nullptr, 0)[0];
  if (known != 0) {
    letGo(block);
    free(block);
  }
  return known != 0 ? 1 : 0;
}

uint32_t getSystemId(void) {
  // Fixed for the whole run: said to the host, not asked.
  const uint32_t args[] = {boardWire->systemId};
  boardPost(WIRE_GETSYSTEMID, args, 1, nullptr, 0);
  return args[0];
}

uint32_t getVersion(void) {
  const uint32_t args[] = {boardWire->firmwareVersion};
  boardPost(WIRE_GETVERSION, args, 1, nullptr, 0);
  return args[0];
}

int32_t hddExist(const char* name) {
  const uint32_t args[] = {name == nullptr};
  return (int32_t)askWithText(WIRE_HDD_EXIST, args, 1, name)[0];
}

TapFile* hddFopen(const char* name) {
  const uint32_t args[] = {name == nullptr};
  return (TapFile*)(uintptr_t)askWithText(WIRE_HDD_FOPEN, args, 1, name)[0];
}

uint32_t hddFlen(TapFile* file) {
  const uint32_t args[] = {lowWord(file), highWord(file)};
  return boardAsk(WIRE_HDD_FLEN, args, 2, nullptr, 0)[0];
}

uint32_t hddFread(void* buffer, uint32_t blockSize, uint32_t count, TapFile* file) {
  const uint32_t args[] = {lowWord(buffer), highWord(buffer), blockSize, count, lowWord(file), highWord(file)};
  const uint32_t* answer = boardAsk(WIRE_HDD_FREAD, args, 6, nullptr, 0);
  const uint32_t result = answer[0], bytes = answer[1];
  uint32_t done = 0;
  while (done < bytes) {
    const uint32_t chunk = bytes - done < WIRE_DATA_BYTES ? bytes - done : WIRE_DATA_BYTES;
    memcpy((uint8_t*)buffer + done, boardWire->data, chunk);
    done += chunk;
    if (done < bytes) {
      const uint32_t more[] = {done};
      boardAsk(WIRE_FREAD_MORE, more, 1, nullptr, 0);
    }
  }
  return result;
}

void hddFclose(TapFile* file) {
  const uint32_t args[] = {lowWord(file), highWord(file)};
  boardPost(WIRE_HDD_FCLOSE, args, 2, nullptr, 0);
}

uint32_t hddChangeDir(const char* path) {
  const uint32_t args[] = {path == nullptr};
  const uint32_t* answer = askWithText(WIRE_HDD_CHANGEDIR, args, 1, path);
  const uint32_t result = answer[0];
  if (answer[1] != 0) boardSetDirectory((const char*)boardWire->data);
  return result;
}

}  // namespace

void boardReleaseBlocks(void) {
  for (size_t i = 0; i < heldCount; ++i) free(heldBlocks[i]);
  free(heldBlocks);
  heldBlocks = nullptr;
  heldCount = heldRoom = 0;
}

void boardFillEntryWords(void) {
  TAP_Osd_Create = osdCreate;
  TAP_Osd_FillBox = osdFillBox;
  TAP_Osd_PutS = osdPutS;
  TAP_Osd_Sync = osdSync;
  TAP_Osd_Delete = osdDelete;
  TAP_Channel_GetCurrent = channelGetCurrent;
  TAP_Channel_Stop = channelStop;
  TAP_Channel_Start = channelStart;
  TAP_SystemProc = systemProc;
  TAP_SPrint = sprint;
  TAP_Print = print;
  TAP_Sleep = sleepCall;
  TAP_MemAlloc = memAlloc;
  TAP_MemFree = memFree;
  TAP_GetSystemId = getSystemId;
  TAP_GetVersion = getVersion;
  TAP_Hdd_Exist = hddExist;
  TAP_Hdd_Fopen = hddFopen;
  TAP_Hdd_Flen = hddFlen;
  TAP_Hdd_Fread = hddFread;
  TAP_Hdd_Fclose = hddFclose;
  TAP_Hdd_ChangeDir = hddChangeDir;
}
