// tapsim-board: the only code in the module's process. It does what the
// firmware does around a module and nothing more; the host (tapsim) is the
// rest of the receiver. Started by the host with the shared memory and the
// two bells on fixed descriptors.
#include <dlfcn.h>
#include <string.h>
#include <sys/mman.h>

#include "../../frame/firmware.h"
#include "board.h"
#include "link.h"

extern "C" {
// Looked up by name at run time by the support library, so they must stay
// plain exported symbols of the running program.
TapTaskEntry _tapTask[8];
int32_t _curTapTask = 3;  // nonzero, so a module that ignores the index shows it
}

namespace {

const int kModuleSlot = 3;
const char kPrefix[] = "/mnt/hd";  // seven characters ahead of the disk path
char directoryPath[1024];
TapDirRecord directoryRecord;

void* module = nullptr;
TapEventHandler moduleHandler = nullptr;
const uint16_t* pageNumber = nullptr;
const void* translationHook = nullptr;
const int32_t* remoteType = nullptr;

TapTaskEntry& moduleEntry() { return _tapTask[kModuleSlot]; }

void* symbol(const char* name) {
  dlerror();
  void* address = dlsym(module, name);
  return dlerror() == nullptr ? address : nullptr;
}

[[noreturn]] void refuse(const char* reason, const char* detail) {
  char text[512];
  strncpy(text, reason, sizeof text - 1);
  text[sizeof text - 1] = '\0';
  if (detail != nullptr) strncat(text, detail, sizeof text - strlen(text) - 1);
  boardPost(WIRE_LOAD_FAILED, nullptr, 0, text, (uint32_t)strlen(text) + 1);
  boardRing();
  boardEnd(WIRE_BOARD_LOAD_FAILED);
}

size_t recordLength(const char* record, size_t size) {
  size_t length = 0;
  while (length < size && record[length] != '\0') ++length;
  return length;
}

uint32_t wordAt(const void* bytes) {
  uint32_t value = 0;
  memcpy(&value, bytes, sizeof value);
  return value;
}

// The records, as the host describes the module: header NUL name NUL ... date.
void reportRecords(const char* header, const void* base) {
  static const struct {
    const char* name;
    size_t size;
  } texts[] = {{"__tap_program_name__", 64}, {"__tap_program_version__", 64}, {"__tap_author_name__", 64},
               {"__tap_description__", 128}, {"__tap_etc_str__", 64}};
  char payload[8 + 1 + 64 * 4 + 128 + 5];
  size_t at = 0;
  memcpy(payload, header, 8);
  at = 8;
  payload[at++] = '\0';
  for (const auto& text : texts) {
    const auto* record = static_cast<const char*>(symbol(text.name));
    const size_t length = record != nullptr ? recordLength(record, text.size) : 0;
    memcpy(payload + at, record, length);
    at += length;
    payload[at++] = '\0';
  }
  const void* id = symbol("__tap_ud__");
  const uint32_t args[] = {wordAt(header + 8), id != nullptr ? wordAt(id) : 0, lowWord(base), highWord(base)};
  boardPost(WIRE_LOADED, args, 4, payload, (uint32_t)at);
}

void printableHeader(char* into, const char* header) {
  for (int i = 0; i < 8; ++i) into[i] = header[i] >= 0x20 && header[i] <= 0x7E ? header[i] : '?';
  into[8] = '\0';
}

TapMainFunction load(const char* file) {
  // A module of its own namespace: its exported names never shadow ours.
  module = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    refuse("cannot load the module: ", reason != nullptr ? reason : "unknown reason");
  }
  const auto* header = static_cast<const char*>(symbol("__tap_Header__"));
  if (header == nullptr) refuse("the module has no header record __tap_Header__", nullptr);
  if (memcmp(header, "TFAPMIPS", 8) != 0) {
    char shown[9];
    printableHeader(shown, header);
    char text[96] = "the module's header record __tap_Header__ starts with \"";
    strcat(text, shown);
    strcat(text, "\", not this receiver's \"TFAPMIPS\"");
    refuse(text, nullptr);
  }
  using StartUp = int32_t (*)(TapEntryPoints*);
  auto startUp = reinterpret_cast<StartUp>(symbol("__TAP_Init_"));
  if (startUp == nullptr) refuse("the module has no start-up entry __TAP_Init_", nullptr);
  Dl_info where;
  memset(&where, 0, sizeof where);
  dladdr(reinterpret_cast<void*>(startUp), &where);
  reportRecords(header, where.dli_fbase);
  pageNumber = static_cast<const uint16_t*>(symbol("pagenumber"));
  translationHook = symbol("KeyTranslateHook");
  remoteType = static_cast<const int32_t*>(symbol("RemoteType"));
  if (boardWire->staleDlerror != 0) {
    // What a firmware may leave behind: a failed lookup whose error nobody read.
    const void* missing = dlsym(RTLD_DEFAULT, "tapsim_no_such_symbol");
    (void)missing;
  }
  // The module and its symbols are in place, so a debugger that attaches
  // here finds TAP_EventHandler and the start-up entry before either runs.
  boardAwaitDebugger();
  TapEntryPoints entries;
  memset(&entries, 0, sizeof entries);
  startUp(&entries);
  moduleHandler = reinterpret_cast<TapEventHandler>(entries.slot[1]);
  auto main = reinterpret_cast<TapMainFunction>(entries.slot[0]);
  if (main == nullptr) refuse("the module's start-up entry reported no main function", nullptr);
  return main;
}

bool mapShared() {
  void* mapped = mmap(nullptr, sizeof(WireShared), PROT_READ | PROT_WRITE, MAP_SHARED, WIRE_SHARED_FD, 0);
  if (mapped == MAP_FAILED) return false;
  boardWire = static_cast<WireShared*>(mapped);
  return boardWire->magic == WIRE_MAGIC && boardWire->version == WIRE_VERSION;
}

void deliver(const WireEvent& event) {
  const uint32_t args[] = {event.event, event.param1, event.param2, 0};
  boardPost(WIRE_EVENT, args, 3, nullptr, 0);
  // Whatever handler the module's entry holds now gets the key: a hook the
  // module put there in the meantime included.
  const TapEventHandler handler = moduleEntry().handler;
  if (handler == nullptr) return;
  const uint32_t result = handler(event.event, event.param1, event.param2);
  const uint32_t done[] = {event.event, event.param1, event.param2, result};
  boardPost(WIRE_EVENT_RESULT, done, 4, nullptr, 0);
}

bool takeEvent(WireEvent& event) {
  const uint32_t head = boardWire->eventHead;
  if (head == __atomic_load_n(&boardWire->eventTail, __ATOMIC_ACQUIRE)) return false;
  event = boardWire->events[head % WIRE_EVENT_SLOTS];
  __atomic_store_n(&boardWire->eventHead, head + 1, __ATOMIC_RELEASE);
  return true;
}

}  // namespace

void boardSetDirectory(const char* diskPath) {
  const size_t prefix = sizeof kPrefix - 1;
  const size_t room = sizeof directoryPath - prefix - 1;
  size_t length = strlen(diskPath);
  if (length > room) length = room;
  memcpy(directoryPath, kPrefix, prefix);
  memcpy(directoryPath + prefix, diskPath, length);
  directoryPath[prefix + length] = '\0';
}

uint32_t boardPageNumber(void) { return pageNumber != nullptr ? *pageNumber : 0; }

void boardTurn(void) {
  if (boardIsForkedChild) return;
  // The remote type the module's library settled on, so that the host's
  // remote sends what the module expects.
  const uint32_t hasRemoteType = remoteType != nullptr;
  const uint32_t type = remoteType != nullptr ? (uint32_t)*remoteType : 0;
  WireEvent event;
  if (takeEvent(event)) {
    const uint32_t args[] = {0, hasRemoteType, type};
    boardPost(WIRE_SYSTEMPROC, args, 3, nullptr, 0);
    deliver(event);
    return;
  }
  const uint32_t args[] = {1, hasRemoteType, type};
  const uint32_t turn = boardAsk(WIRE_SYSTEMPROC, args, 3, nullptr, 0)[0];
  if (turn == WIRE_TURN_STOP) boardFinish(WIRE_BOARD_STOPPED);
  if (turn == WIRE_TURN_EVENT && takeEvent(event)) deliver(event);
}

void boardFinish(int code) {
  const void* handler = reinterpret_cast<const void*>(moduleEntry().handler);
  uint32_t who = WIRE_HANDLER_OTHER;
  if (handler == reinterpret_cast<const void*>(moduleHandler))
    who = WIRE_HANDLER_OWN;
  else if (handler != nullptr && handler == translationHook)
    who = WIRE_HANDLER_HOOK;
  const uint32_t args[] = {who, remoteType != nullptr, remoteType != nullptr ? (uint32_t)*remoteType : 0};
  boardPost(WIRE_KEY_HANDLING, args, 3, nullptr, 0);
  if (code == WIRE_BOARD_STOPPED) boardPost(WIRE_STOPPED, nullptr, 0, nullptr, 0);
  boardRing();
  // The module's memory goes back to the heap and the module is unloaded, so
  // that a memory checker sees a module's own leaks and nothing of ours.
  boardReleaseBlocks();
  if (code == WIRE_BOARD_OK && module != nullptr) dlclose(module);
  boardEnd(code);
}

int main(int argc, char** argv) {
  if (argc != 2 || !mapShared()) return WIRE_BOARD_USAGE;
  boardInstallFaultHandlers();
  const uint32_t hello[] = {(uint32_t)sizeof(void*)};
  boardAsk(WIRE_HELLO, hello, 1, nullptr, 0);
  directoryRecord.reserved = 0;
  directoryRecord.path = directoryPath;
  boardSetDirectory(reinterpret_cast<const char*>(boardWire->data));
  moduleEntry().dirRecord = &directoryRecord;
  boardFillEntryWords();

  const TapMainFunction main = load(argv[1]);
  moduleEntry().handler = moduleHandler;
  boardPost(WIRE_MAIN_STARTED, nullptr, 0, nullptr, 0);
  const uint32_t result[] = {(uint32_t)main()};
  boardPost(WIRE_MAIN_RETURNED, result, 1, nullptr, 0);
  boardFinish(WIRE_BOARD_OK);
}
