// The platform calls, as the firmware answers them: each entry word points at
// one of these, which traces the call and hands it to the current receiver.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "../../frame/tap.h"
#include "receiver.h"
#include "trace.h"

namespace tapsim {
namespace {

Receiver& rx() { return Receiver::current(); }
TraceLine trace(const char* call) { return TraceLine(rx().output.trace, call); }

std::string formatted(const char* format, va_list args) {
  if (format == nullptr) return {};
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

TapRegion osdCreate(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t lut,
                    uint32_t flags) {
  auto t = trace("TAP_Osd_Create");
  t.arg(x).arg(y).arg(width).arg(height).arg(lut).arg(flags);
  return t.result(rx().screen.createRegion(x, y, width, height));
}

int32_t osdFillBox(TapRegion region, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                   TapColour colour) {
  auto t = trace("TAP_Osd_FillBox");
  t.arg(region).arg(x).arg(y).arg(width).arg(height).arg(colour);
  return t.result(rx().screen.fillBox(region, x, y, width, height, colour) ? 0 : -1);
}

int32_t osdPutS(TapRegion region, uint32_t x, uint32_t y, uint32_t maxX, const char* text,
                TapColour foreground, TapColour background, uint32_t fontType, uint32_t fontSize,
                uint32_t dotted, uint32_t align) {
  auto t = trace("TAP_Osd_PutS");
  t.arg(region).arg(x).arg(y).arg(maxX).arg(text).arg(foreground).arg(background);
  t.arg(fontType).arg(fontSize).arg(dotted).arg(align);
  if (text == nullptr) return t.result(-1);
  return t.result(rx().screen.putText(region, x, y, maxX, text, foreground, background) ? 0 : -1);
}

int32_t osdSync() {
  auto t = trace("TAP_Osd_Sync");
  rx().sync();
  return t.result(0);
}

int32_t osdDelete(TapRegion region) {
  auto t = trace("TAP_Osd_Delete");
  t.arg(region);
  return t.result(rx().screen.deleteRegion(region) ? 0 : -1);
}

int32_t channelGetCurrent(int32_t* first, int32_t* second) {
  auto t = trace("TAP_Channel_GetCurrent");
  const auto [a, b] = rx().channels.current();
  if (first != nullptr) *first = a;
  if (second != nullptr) *second = b;
  t.arg(a).arg(b);
  return t.result(1);
}

int32_t channelStop(int32_t mainScreen) {
  auto t = trace("TAP_Channel_Stop");
  t.arg(mainScreen);
  rx().channels.stop();
  return t.result(1);
}

int32_t channelStart(int32_t mainScreen, int32_t first, int32_t second) {
  auto t = trace("TAP_Channel_Start");
  t.arg(mainScreen).arg(first).arg(second);
  rx().channels.start(first, second);
  return t.result(1);
}

void systemProc() {
  { auto t = trace("TAP_SystemProc"); }
  rx().systemTurn();
}

int32_t sprint(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  auto t = trace("TAP_SPrint");
  t.pointer(buffer).arg(format).arg(text);
  if (buffer == nullptr) return t.result(-1);
  // Unbounded like the receiver's: the caller promises the room.
  std::copy(text.begin(), text.end(), buffer);
  buffer[text.size()] = '\0';
  return t.result(static_cast<int32_t>(text.size()));
}

int32_t print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  auto t = trace("TAP_Print");
  t.arg(format).arg(text);
  rx().console += text;
  return t.result(static_cast<int32_t>(text.size()));
}

void sleep(uint32_t duration) {
  auto t = trace("TAP_Sleep");
  t.arg(duration);
}

void* memAlloc(uint32_t size) {
  auto t = trace("TAP_MemAlloc");
  t.arg(size);
  return t.result(rx().memory.allocate(size));
}

int32_t memFree(void* block) {
  auto t = trace("TAP_MemFree");
  t.pointer(block);
  return t.result(rx().memory.release(block) ? 1 : 0);
}

uint32_t getSystemId() { return trace("TAP_GetSystemId").result(rx().settings.systemId); }
uint32_t getVersion() { return trace("TAP_GetVersion").result(rx().settings.firmwareVersion); }

int32_t hddExist(const char* name) {
  auto t = trace("TAP_Hdd_Exist");
  t.arg(name);
  return t.result(name != nullptr && rx().disk.exists(name) ? 1 : 0);
}

TapFile* hddFopen(const char* name) {
  auto t = trace("TAP_Hdd_Fopen");
  t.arg(name);
  return t.result(name != nullptr ? rx().disk.open(name) : nullptr);
}

uint32_t hddFlen(TapFile* file) {
  auto t = trace("TAP_Hdd_Flen");
  t.pointer(file);
  return t.result(rx().disk.length(file));
}

uint32_t hddFread(void* buffer, uint32_t blockSize, uint32_t count, TapFile* file) {
  auto t = trace("TAP_Hdd_Fread");
  t.pointer(buffer).arg(blockSize).arg(count).pointer(file);
  return t.result(buffer != nullptr ? rx().disk.read(buffer, blockSize, count, file) : 0u);
}

void hddFclose(TapFile* file) {
  auto t = trace("TAP_Hdd_Fclose");
  t.pointer(file);
  rx().disk.close(file);
}

uint32_t hddChangeDir(const char* path) {
  auto t = trace("TAP_Hdd_ChangeDir");
  t.arg(path);
  Receiver& receiver = rx();
  if (path == nullptr) return t.result(receiver.settings.changeDirFailure);
  return t.result(receiver.changeDir(path));
}

}  // namespace

void fillEntryWords() {
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
  TAP_Sleep = sleep;
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

}  // namespace tapsim
