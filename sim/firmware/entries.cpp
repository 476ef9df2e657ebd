// The entry words answered in the calling process: each converts the module's
// arguments and hands the call to the platform logic.
#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../frame/tap.h"
#include "calls.h"
#include "../board/wire.h"
#include "inprocess.h"
#include "tasktable.h"

namespace tapsim {
namespace {

InProcessBinding* current = nullptr;
Receiver& rx() { return current->receiver; }
uint64_t numberOf(const void* address) { return reinterpret_cast<uintptr_t>(address); }

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

TapRegion osdCreate(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t lut, uint32_t flags) {
  return calls::osdCreate(rx(), x, y, width, height, lut, flags);
}
int32_t osdFillBox(TapRegion region, uint32_t x, uint32_t y, uint32_t width, uint32_t height, TapColour colour) {
  return calls::osdFillBox(rx(), region, x, y, width, height, colour);
}
int32_t osdPutS(TapRegion region, uint32_t x, uint32_t y, uint32_t maxX, const char* text, TapColour foreground,
                TapColour background, uint32_t fontType, uint32_t fontSize, uint32_t dotted, uint32_t align) {
  return calls::osdPutS(rx(), region, x, y, maxX, text, foreground, background, fontType, fontSize, dotted,
                        align);
}
int32_t osdSync() { return calls::osdSync(rx(), 0); }
int32_t osdDelete(TapRegion region) { return calls::osdDelete(rx(), region); }

int32_t channelGetCurrent(int32_t* first, int32_t* second) {
  const auto [a, b] = calls::channelGetCurrent(rx());
  if (first != nullptr) *first = static_cast<int32_t>(a);
  if (second != nullptr) *second = static_cast<int32_t>(b);
  return 1;
}
int32_t channelStop(int32_t mainScreen) { return calls::channelStop(rx(), static_cast<uint32_t>(mainScreen)); }
int32_t channelStart(int32_t mainScreen, int32_t first, int32_t second) {
  return calls::channelStart(rx(), static_cast<uint32_t>(mainScreen), static_cast<uint32_t>(first),
                             static_cast<uint32_t>(second));
}

void systemProc() {
  calls::systemProc(rx());
  current->systemTurn();
}

int32_t sprint(char* buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  // Unbounded like the receiver's: the caller promises the room.
  if (buffer != nullptr) std::memcpy(buffer, text.c_str(), text.size() + 1);
  return calls::sprint(rx(), numberOf(buffer), format, text);
}

int32_t print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatted(format, args);
  va_end(args);
  const std::string_view shown = std::string_view(text).substr(0, WIRE_PRINT_MOST);
  calls::print(rx(), format, shown, text.size());
  return static_cast<int32_t>(shown.size());
}

void sleep(uint32_t duration) { calls::sleep(rx(), duration); }

void* memAlloc(uint32_t size) {
  void* block = size <= rx().memory.limit() ? std::malloc(size == 0 ? 1 : size) : nullptr;
  if (calls::memAlloc(rx(), size, numberOf(block))) {
    current->blocks.insert(block);
    return block;
  }
  std::free(block);
  return nullptr;
}

int32_t memFree(void* block) {
  if (!calls::memFree(rx(), numberOf(block))) return 0;
  current->blocks.erase(block);
  std::free(block);
  return 1;
}

uint32_t getSystemId() { return calls::getSystemId(rx()); }
uint32_t getVersion() { return calls::getVersion(rx()); }
int32_t hddExist(const char* name) { return calls::hddExist(rx(), name); }
TapFile* hddFopen(const char* name) {
  return reinterpret_cast<TapFile*>(static_cast<uintptr_t>(calls::hddFopen(rx(), name)));
}
uint32_t hddFlen(TapFile* file) { return calls::hddFlen(rx(), numberOf(file)); }

uint32_t hddFread(void* buffer, uint32_t blockSize, uint32_t count, TapFile* file) {
  calls::PendingRead pending;
  const uint32_t result = calls::hddFread(rx(), numberOf(buffer), blockSize, count, numberOf(file), pending);
  if (pending.bytes != 0) calls::readPiece(rx(), pending, buffer, static_cast<size_t>(pending.bytes));
  return result;
}

void hddFclose(TapFile* file) { calls::hddFclose(rx(), numberOf(file)); }
uint32_t hddChangeDir(const char* path) { return current->changeDir(path); }

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

}  // namespace

InProcessBinding::InProcessBinding(Receiver& r, KeySource& k) : receiver(r), keys(k) {
  assert(current == nullptr);
  current = this;
  resetTaskTable();
  setModuleDirectory(receiver.disk.currentDir());
  fillEntryWords();
}

InProcessBinding::~InProcessBinding() {
  for (void* block : blocks) std::free(block);
  current = nullptr;
}

uint32_t InProcessBinding::changeDir(const char* path) {
  const uint32_t result = calls::hddChangeDir(receiver, path);
  if (path != nullptr && result == receiver.settings.changeDirSuccess)
    setModuleDirectory(receiver.disk.currentDir());
  return result;
}

void InProcessBinding::systemTurn() {
  const auto key = keys.next();
  if (!key) return;
  // Whatever handler the module's entry holds now gets the key.
  const TapEventHandler handler = moduleEntry().handler;
  calls::event(receiver, TAP_EVENT_KEY, *key, 0);
  if (handler == nullptr) return;
  const uint32_t result = handler(TAP_EVENT_KEY, *key, 0);
  calls::eventResult(receiver, TAP_EVENT_KEY, *key, 0, result);
}

}  // namespace tapsim
