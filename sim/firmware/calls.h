#pragma once
// The platform calls as the receiver answers them: each traces itself and
// acts on the receiver's state. Addresses in the module's memory arrive as
// numbers (the module may run in another process, on another machine); text
// arguments arrive already copied, null where the module passed none.
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "receiver.h"

namespace tapsim::calls {

uint16_t osdCreate(Receiver& rx, uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t lut,
                   uint32_t flags);
int32_t osdFillBox(Receiver& rx, uint32_t region, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                   uint32_t colour);
int32_t osdPutS(Receiver& rx, uint32_t region, uint32_t x, uint32_t y, uint32_t maxX, const char* text,
                uint32_t foreground, uint32_t background, uint32_t fontType, uint32_t fontSize, uint32_t dotted,
                uint32_t align);
int32_t osdSync(Receiver& rx, uint32_t page);
int32_t osdDelete(Receiver& rx, uint32_t region);
std::pair<uint32_t, uint32_t> channelGetCurrent(Receiver& rx);
int32_t channelStop(Receiver& rx, uint32_t mainScreen);
int32_t channelStart(Receiver& rx, uint32_t mainScreen, uint32_t first, uint32_t second);
void systemProc(Receiver& rx);
int32_t sprint(Receiver& rx, uint64_t buffer, const char* format, std::string_view text);
// `text` is what the receiver showed; `formatted` how long the whole text was.
int32_t print(Receiver& rx, const char* format, std::string_view text, uint64_t formatted);
void sleep(Receiver& rx, uint32_t duration);
// Whether the module's heap may hand out `block` (0 when it had none to give).
bool memAlloc(Receiver& rx, uint32_t size, uint64_t block);
bool memFree(Receiver& rx, uint64_t block);
uint32_t getSystemId(Receiver& rx);
uint32_t getVersion(Receiver& rx);
int32_t hddExist(Receiver& rx, const char* name);
uint32_t hddFopen(Receiver& rx, const char* name);
uint32_t hddFlen(Receiver& rx, uint64_t handle);
// A read whose bytes are copied to the module's buffer a piece at a time, so
// that no more of the file is held than one piece, whatever the module asks.
struct PendingRead {
  TapFile* file = nullptr;
  uint64_t bytes = 0;     // to be copied: the whole blocks read
  uint64_t done = 0;      // copied so far
  uint64_t leftover = 0;  // of a last, partial block: read past but not copied
};
// The number of whole blocks the file holds, up to `count`; `pending` says what to copy.
uint32_t hddFread(Receiver& rx, uint64_t buffer, uint32_t blockSize, uint32_t count, uint64_t handle,
                  PendingRead& pending);
// Copies the next at most `most` bytes of the read into `into`; returns how many.
size_t readPiece(Receiver& rx, PendingRead& pending, void* into, size_t most);
void hddFclose(Receiver& rx, uint64_t handle);
uint32_t hddChangeDir(Receiver& rx, const char* path);

// The firmware's own doings, in the same trace.
void event(Receiver& rx, uint32_t event, uint32_t param1, uint32_t param2);
void eventResult(Receiver& rx, uint32_t event, uint32_t param1, uint32_t param2, uint32_t result);
void terminalWritten(Receiver& rx, uint32_t terminal, std::string_view bytes);

}  // namespace tapsim::calls
