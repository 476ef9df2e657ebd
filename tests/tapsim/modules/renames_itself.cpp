// A module whose name record, checked in the file, fills all its 64 bytes
// without a terminating zero once the module is loaded.
#include "libc_calls.h"

extern "C" {

extern const char __tap_program_name__[64];

__attribute__((constructor)) static void fillTheNameRecord() {
  constexpr int kRead = 1, kWrite = 2;
  constexpr uintptr_t kPage = 4096;
  auto* name = const_cast<char*>(__tap_program_name__);
  auto* page = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(name) & ~(kPage - 1));
  mprotect(page, 2 * kPage, kRead | kWrite);
  for (int i = 0; i < 64; ++i) name[i] = 'N';
  mprotect(page, 2 * kPage, kRead);
}

}  // extern "C"
