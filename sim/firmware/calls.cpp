#include "calls.h"

#include <algorithm>
#include <cstring>

#include "trace.h"

namespace tapsim::calls {
namespace {

TraceLine trace(Receiver& rx, const char* call) {
  return TraceLine(rx.output.trace, call);
}

}  // namespace

uint16_t osdCreate(Receiver& rx, uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint32_t lut,
                   uint32_t flags) {
  auto t = trace(rx, "TAP_Osd_Create");
  t.arg(x).arg(y).arg(width).arg(height).arg(lut).arg(flags);
  return t.result(rx.screen.createRegion(x, y, width, height));
}

int32_t osdFillBox(Receiver& rx, uint32_t region, uint32_t x, uint32_t y, uint32_t width, uint32_t height,
                   uint32_t colour) {
  auto t = trace(rx, "TAP_Osd_FillBox");
  t.arg(region).arg(x).arg(y).arg(width).arg(height).arg(colour);
  return t.result(rx.screen.fillBox(static_cast<TapRegion>(region), x, y, width, height, colour) ? 0 : -1);
}

int32_t osdPutS(Receiver& rx, uint32_t region, uint32_t x, uint32_t y, uint32_t maxX, const char* text,
                uint32_t foreground, uint32_t background, uint32_t fontType, uint32_t fontSize, uint32_t dotted,
                uint32_t align) {
  auto t = trace(rx, "TAP_Osd_PutS");
  t.arg(region).arg(x).arg(y).arg(maxX).arg(text).arg(foreground).arg(background);
  t.arg(fontType).arg(fontSize).arg(dotted).arg(align);
  if (text == nullptr) return t.result(-1);
  return t.result(
      rx.screen.putText(static_cast<TapRegion>(region), x, y, maxX, text, foreground, background) ? 0 : -1);
}

int32_t osdSync(Receiver& rx, uint32_t page) {
  auto t = trace(rx, "TAP_Osd_Sync");
  rx.sync(page);
  return t.result(0);
}

int32_t osdDelete(Receiver& rx, uint32_t region) {
  auto t = trace(rx, "TAP_Osd_Delete");
  t.arg(region);
  return t.result(rx.screen.deleteRegion(static_cast<TapRegion>(region)) ? 0 : -1);
}

std::pair<uint32_t, uint32_t> channelGetCurrent(Receiver& rx) {
  auto t = trace(rx, "TAP_Channel_GetCurrent");
  const auto current = rx.channels.current();
  t.arg(current.first).arg(current.second);
  t.result(1);
  return current;
}

int32_t channelStop(Receiver& rx, uint32_t mainScreen) {
  auto t = trace(rx, "TAP_Channel_Stop");
  t.arg(static_cast<int32_t>(mainScreen));
  rx.channels.stop();
  return t.result(1);
}

int32_t channelStart(Receiver& rx, uint32_t mainScreen, uint32_t first, uint32_t second) {
  auto t = trace(rx, "TAP_Channel_Start");
  t.arg(static_cast<int32_t>(mainScreen)).arg(first).arg(second);
  rx.channels.start(first, second);
  return t.result(1);
}

void systemProc(Receiver& rx) { trace(rx, "TAP_SystemProc"); }

int32_t sprint(Receiver& rx, uint64_t buffer, const char* format, std::string_view text) {
  auto t = trace(rx, "TAP_SPrint");
  t.address(buffer).arg(format).arg(text);
  return t.result(buffer == 0 ? -1 : static_cast<int32_t>(text.size()));
}

int32_t print(Receiver& rx, const char* format, std::string_view text, uint64_t formatted) {
  auto t = trace(rx, "TAP_Print");
  t.arg(format).arg(text);
  if (formatted > text.size()) ++rx.printsCut;
  rx.console.add(text);
  return t.result(static_cast<int32_t>(text.size()));
}

void sleep(Receiver& rx, uint32_t duration) {
  auto t = trace(rx, "TAP_Sleep");
  t.arg(duration);
}

bool memAlloc(Receiver& rx, uint32_t size, uint64_t block) {
  auto t = trace(rx, "TAP_MemAlloc");
  t.arg(size);
  const bool granted = rx.memory.admit(size) && block != 0;
  if (granted) rx.memory.record(block, size);
  t.resultAddress(granted ? block : 0);
  return granted;
}

bool memFree(Receiver& rx, uint64_t block) {
  auto t = trace(rx, "TAP_MemFree");
  t.address(block);
  return t.result(rx.memory.release(block) ? 1 : 0) != 0;
}

uint32_t getSystemId(Receiver& rx) { return trace(rx, "TAP_GetSystemId").result(rx.settings.systemId); }
uint32_t getVersion(Receiver& rx) { return trace(rx, "TAP_GetVersion").result(rx.settings.firmwareVersion); }

int32_t hddExist(Receiver& rx, const char* name) {
  auto t = trace(rx, "TAP_Hdd_Exist");
  t.arg(name);
  return t.result(name != nullptr && rx.disk.exists(name) ? 1 : 0);
}

uint32_t hddFopen(Receiver& rx, const char* name) {
  auto t = trace(rx, "TAP_Hdd_Fopen");
  t.arg(name);
  const uint32_t handle = name != nullptr ? rx.handleFor(rx.disk.open(name)) : 0;
  t.resultAddress(handle);
  return handle;
}

uint32_t hddFlen(Receiver& rx, uint64_t handle) {
  auto t = trace(rx, "TAP_Hdd_Flen");
  t.address(handle);
  return t.result(rx.disk.length(rx.fileFor(handle)));
}

uint32_t hddFread(Receiver& rx, uint64_t buffer, uint32_t blockSize, uint32_t count, uint64_t handle,
                  PendingRead& pending) {
  auto t = trace(rx, "TAP_Hdd_Fread");
  t.address(buffer).arg(blockSize).arg(count).address(handle);
  pending = PendingRead{};
  TapFile* file = rx.fileFor(handle);
  const uint64_t wanted = uint64_t{blockSize} * count;
  // The receiver's addresses are 32 bits wide: no buffer there holds more.
  if (buffer == 0 || file == nullptr || wanted == 0 || wanted > UINT32_MAX) return t.result(0u);
  const uint64_t available = std::min(wanted, rx.disk.remaining(file));
  const auto blocks = static_cast<uint32_t>(available / blockSize);
  pending = {file, uint64_t{blocks} * blockSize, 0, available % blockSize};
  return t.result(blocks);
}

size_t readPiece(Receiver& rx, PendingRead& pending, void* into, size_t most) {
  const size_t piece = static_cast<size_t>(std::min<uint64_t>(pending.bytes - pending.done, most));
  const uint32_t got = piece == 0 ? 0 : rx.disk.read(into, 1, static_cast<uint32_t>(piece), pending.file);
  // A file that shrank under the run reads as zeros, never as what was there before.
  std::memset(static_cast<uint8_t*>(into) + got, 0, piece - got);
  pending.done += piece;
  if (pending.done == pending.bytes) rx.disk.skip(pending.file, std::exchange(pending.leftover, 0));
  return piece;
}

void hddFclose(Receiver& rx, uint64_t handle) {
  auto t = trace(rx, "TAP_Hdd_Fclose");
  t.address(handle);
  rx.disk.close(rx.fileFor(handle));
}

uint32_t hddChangeDir(Receiver& rx, const char* path) {
  auto t = trace(rx, "TAP_Hdd_ChangeDir");
  t.arg(path);
  if (path == nullptr) return t.result(rx.settings.changeDirFailure);
  return t.result(rx.disk.changeDir(path));
}

void event(Receiver& rx, uint32_t event, uint32_t param1, uint32_t param2) {
  ++rx.keysDelivered;
  TraceLine(rx.output.trace, "event").arg(event).arg(param1).arg(param2);
}

void eventResult(Receiver& rx, uint32_t event, uint32_t param1, uint32_t param2, uint32_t result) {
  TraceLine(rx.output.trace, "event_result").arg(event).arg(param1).arg(param2).result(result);
}

void terminalWritten(Receiver& rx, uint32_t terminal, std::string_view bytes) {
  if (terminal < rx.terminalText.size()) rx.terminalText[terminal].add(bytes);
}

}  // namespace tapsim::calls
