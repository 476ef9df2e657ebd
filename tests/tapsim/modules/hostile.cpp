// A module that attacks its host, in the way HOSTILE names: it writes over
// the memory it shares with the host, calls without end, or hands the
// platform what a careless module would. Then it waits for the quit key,
// unless the attack never ends. It prints what it was answered.
#include "frame/tap.h"
#include "libc_calls.h"
#include "sim/board/wire.h"

extern "C" {

extern int32_t quitSeen;

namespace {

bool named(const char* row, const char* name) {
  while (*row != '\0' && *row == *name) ++row, ++name;
  return *row == *name;
}

// The module's own view of the board's shared memory.
WireShared* shared() {
  return static_cast<WireShared*>(mmap(nullptr, sizeof(WireShared), 3 /* read, write */, 1 /* shared */, 3, 0));
}

void fill(char* into, uint32_t size, char with) {
  for (uint32_t i = 0; i + 1 < size; ++i) into[i] = with;
  into[size - 1] = '\0';
}

void forgeRequests() {
  WireShared* wire = shared();
  for (uint32_t sent = 0; sent < 200000; ++sent) {
    while (wire->callTail - __atomic_load_n(&wire->callHead, __ATOMIC_ACQUIRE) > WIRE_CALL_RING_BYTES / 2) {
    }
    const uint32_t toEnd = WIRE_CALL_RING_BYTES - wire->callTail % WIRE_CALL_RING_BYTES;
    if (toEnd < sizeof(WireMessage)) wire->callTail += toEnd;
    WireMessage* message = reinterpret_cast<WireMessage*>(wire->calls + wire->callTail % WIRE_CALL_RING_BYTES);
    message->call = WIRE_CHANNEL_GETCURRENT;
    message->size = 0;
    __atomic_store_n(&wire->callTail, wire->callTail + sizeof(WireMessage), __ATOMIC_RELEASE);
    const char bell = 1;
    write(WIRE_CALL_BELL_FD, &bell, 1);
  }
}

void readDatabase(uint32_t count) {
  void* buffer = TAP_MemAlloc(4096);
  TapFile* file = TAP_Hdd_Fopen("Settings/FirmwareTMS.dat");
  TAP_Print("read %u of %u\n", TAP_Hdd_Fread(buffer, 1, count, file), TAP_Hdd_Flen(file));
  TAP_Hdd_Fclose(file);
  TAP_MemFree(buffer);
}

void passNulls() {
  const TapRegion region = TAP_Osd_Create(0, 0, 10, 10, 0, 0);
  TAP_Print("exist %d fopen %d chdir %u puts %d flen %u fread %u\n", TAP_Hdd_Exist(nullptr),
            TAP_Hdd_Fopen(nullptr) != nullptr, TAP_Hdd_ChangeDir(nullptr),
            TAP_Osd_PutS(region, 0, 0, 10, nullptr, 0, 0, 0, 0, 0, 0), TAP_Hdd_Flen(nullptr),
            TAP_Hdd_Fread(nullptr, 1, 10, nullptr));
  TAP_Hdd_Fclose(nullptr);
  TAP_MemFree(nullptr);
  TAP_Channel_GetCurrent(nullptr, nullptr);
  TAP_Print("sprint %d print %d\n", TAP_SPrint(nullptr, nullptr), TAP_Print(nullptr));
  TAP_Osd_Delete(region);
}

void printLong() {
  static char text[70000];
  fill(text, sizeof text, 't');
  const int32_t whole = TAP_Print("%s", text);
  text[5000] = '\0';
  char* format = text + 5001;  // a format of 64,998 characters
  fill(format, sizeof text - 5001, 'f');
  const int32_t fromFormat = TAP_Print(format);
  TAP_Print("\nprinted %d and %d\n", whole, fromFormat);
}

void attack(const char* row) {
  if (named(row, "truncate")) {
    TAP_Print("ftruncate %d\n", ftruncate(WIRE_SHARED_FD, 0));
  } else if (named(row, "regions")) {
    for (uint32_t i = 0; i < 65536; ++i) TAP_Osd_Create(0, 0, 1, 1, 0, 0);
  } else if (named(row, "huge_regions")) {
    for (uint32_t i = 0; i < 40; ++i)
      TAP_Osd_FillBox(TAP_Osd_Create(0, 0, 4096, 4096, 0, 0), 0, 0, 4096, 4096, 0xFF000000u | i);
    TAP_Osd_Sync();
  } else if (named(row, "forged_requests")) {
    forgeRequests();
  } else if (named(row, "forged_tail")) {
    WireShared* wire = shared();
    wire->callTail = wire->callHead + 0x7FFFFFF0u;
    TAP_Osd_Sync();
  } else if (named(row, "syncs")) {
    for (uint32_t i = 0; i < 100000; ++i) TAP_Osd_Sync();
    volatile uint32_t spin = 0;
    for (;;) spin = spin + 1;
  } else if (named(row, "key_ring")) {
    WireShared* wire = shared();
    wire->eventHead = 0x72F3A2B1u;
    wire->eventTail = 0x72F3A2B1u + 1929020704u;
  } else if (named(row, "prints")) {
    static char line[1024];
    fill(line, sizeof line, 'p');
    for (;;) TAP_Print("%s\n", line);
  } else if (named(row, "pts")) {
    static char line[4096];
    fill(line, sizeof line, 'w');
    const int terminal = open("/dev/pts/0", 1 /* write only */);
    for (;;) write(terminal, line, sizeof line);
  } else if (named(row, "fread_20M")) {
    readDatabase(20u << 20);
  } else if (named(row, "fread_4000M")) {
    readDatabase(4000u << 20);
  } else if (named(row, "opens")) {
    uint32_t opened = 0;
    for (uint32_t i = 0; i < 20000; ++i) opened += TAP_Hdd_Fopen("Settings/FirmwareTMS.dat") != nullptr;
    TAP_Print("opened %u\n", opened);
  } else if (named(row, "nulls")) {
    passNulls();
  } else if (named(row, "long_print")) {
    printLong();
  }
}

}  // namespace

int32_t TAP_Main(void) {
  const char* row = getenv("HOSTILE");
  attack(row != nullptr ? row : "");
  while (!quitSeen) TAP_SystemProc();
  return 0;
}

}  // extern "C"
