#include "taplib.h"

extern "C" {

void* dlopen(const char* file, int mode);
void* dlsym(void* handle, const char* name);
char* dlerror(void);
int dlclose(void* handle);

const char* __kxlib_version__ = "__KXLIB_VERSION_TMS__ 2010-11-14";

}  // extern "C"

// Lazy binding with global scope, as the C library of the machine encodes it.
#if defined(__mips__)
static const int RESOLVE_MODE = 5;
#elif defined(__linux__)
static const int RESOLVE_MODE = 0x001 | 0x100;
#else
#error "the loader's encoding of lazy binding and global scope is unknown here"
#endif

extern "C" void* TryResolve(const char* name) {
  void* program = dlopen(nullptr, RESOLVE_MODE);
  if (program == nullptr) return nullptr;
  // An error left unread by someone else may survive a lookup that succeeds;
  // read it away so that only this lookup's own failure counts.
  dlerror();
  void* symbol = dlsym(program, name);
  // A symbol may legitimately sit at address zero; only the loader knows it failed.
  if (dlerror() != nullptr) {
    dlclose(program);
    return nullptr;
  }
  dlclose(program);
  return symbol;
}
