// What the platform needs to load and start a module: the identification
// records, whose values add_tap_module gives as TAP_PROGRAM_NAME and its kin,
// the start-up entry and the run-time entries that stand in for start files.
#include "tap.h"

// The module's own entries must bind to themselves, never to a C library's
// namesake that happens to be loaded first.
#define TAP_OWN_ENTRY __attribute__((visibility("protected"), used))
#define TAP_RECORD(section_name) __attribute__((section(section_name), used))

extern "C" {

struct TapHeaderRecord {
  char magic[8];  // no terminator
  uint32_t headerValue;
  uint8_t reserved[20];
};
static_assert(sizeof(TapHeaderRecord) == 32, "the header record is 32 bytes");

extern const TapHeaderRecord __tap_Header__;
extern const uint32_t __tap_ud__;
extern const char __tap_program_name__[64];
extern const char __tap_program_version__[64];
extern const char __tap_author_name__[64];
extern const char __tap_description__[128];
extern const char __tap_etc_str__[64];

TAP_RECORD("._tap_header")
const TapHeaderRecord __tap_Header__ = {{'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S'}, 16, {}};
TAP_RECORD("._tap_id") const uint32_t __tap_ud__ = TAP_ID;
TAP_RECORD("._tap_program_name") const char __tap_program_name__[64] = TAP_PROGRAM_NAME;
TAP_RECORD("._tap_program_version") const char __tap_program_version__[64] = TAP_PROGRAM_VERSION;
TAP_RECORD("._tap_author_name") const char __tap_author_name__[64] = TAP_AUTHOR_NAME;
TAP_RECORD("._tap_description") const char __tap_description__[128] = TAP_DESCRIPTION;
// The compiler takes the date from SOURCE_DATE_EPOCH when it is set.
TAP_RECORD("._tap_etcinfo") const char __tap_etc_str__[64] = __DATE__;

TAP_OWN_ENTRY int32_t __TAP_Init_(TapEntryPoints* entryPoints) {
  entryPoints->slot[0] = reinterpret_cast<void*>(TAP_Main);
  entryPoints->slot[1] = reinterpret_cast<void*>(TAP_EventHandler);
  return 0;
}

TAP_OWN_ENTRY __attribute__((noreturn)) void abort(void) {
  for (;;) TAP_Sleep(1000);
}

TAP_OWN_ENTRY void* __builtin_new(int32_t size) {
  TAP_Print("__builtin_new. size=%d\n", size);
  return TAP_MemAlloc(static_cast<uint32_t>(size));
}

TAP_OWN_ENTRY void _init(void) {}

TAP_OWN_ENTRY void _finit(void) {}

}  // extern "C"
