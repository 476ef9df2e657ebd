// The identification records a module carries, laid out as the receiver reads
// them. TEST_HEADER_MARK lets a module carry another machine's mark.
#include <stdint.h>

#ifndef TEST_HEADER_MARK
#define TEST_HEADER_MARK 'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S'
#endif
#ifndef TEST_MODULE_NAME
#define TEST_MODULE_NAME "tapsim test module"
#endif

#define TEST_RECORD(section_name) __attribute__((section(section_name), used))

extern "C" {

struct TestHeaderRecord {
  char mark[8];
  uint32_t value;
  uint8_t reserved[20];
};

extern const TestHeaderRecord __tap_Header__;
extern const uint32_t __tap_ud__;
extern const char __tap_program_name__[64];
extern const char __tap_program_version__[64];
extern const char __tap_author_name__[64];
extern const char __tap_description__[128];
extern const char __tap_etc_str__[64];

TEST_RECORD("._tap_header") const TestHeaderRecord __tap_Header__ = {{TEST_HEADER_MARK}, 16, {}};
TEST_RECORD("._tap_id") const uint32_t __tap_ud__ = 0x7E570001u;
TEST_RECORD("._tap_program_name") const char __tap_program_name__[64] = TEST_MODULE_NAME;
TEST_RECORD("._tap_program_version") const char __tap_program_version__[64] = "V0";
TEST_RECORD("._tap_author_name") const char __tap_author_name__[64] = "tapsim tests";
TEST_RECORD("._tap_description") const char __tap_description__[128] = "test";
TEST_RECORD("._tap_etcinfo") const char __tap_etc_str__[64] = "Jan  1 2026";

}  // extern "C"
