// A loader whose error stays pending until someone reads it, even across a
// lookup that succeeds (POSIX allows it; the receiver's C library does it).
// The firmware may leave such an error behind; the library's lookups must
// still find what exists.
#include <dlfcn.h>

#include "lib_fixture.h"

namespace {

bool staleErrorPending = false;
char staleError[] = "tapsim: an earlier lookup failed";

using ErrorFunction = char* (*)();

}  // namespace

// Exported by this program, so the module's dlerror reaches it first.
extern "C" char* dlerror(void) {
  if (staleErrorPending) {
    staleErrorPending = false;
    return staleError;
  }
  static const auto real = reinterpret_cast<ErrorFunction>(dlsym(RTLD_NEXT, "dlerror"));
  return real();
}

namespace quarnel::test {
namespace {

class StaleLoaderError : public LibraryTest {
 protected:
  void* tryResolve(const char* name) { return fn<void*(const char*)>("TryResolve")(name); }
};

TEST_F(StaleLoaderError, ExistingSymbolIsStillFound) {
  staleErrorPending = true;
  EXPECT_EQ(tryResolve("_curTapTask"), dlsym(RTLD_DEFAULT, "_curTapTask"));
  EXPECT_FALSE(staleErrorPending);
}

TEST_F(StaleLoaderError, TaskTableIsFoundAndTheRemoteTypeIsRead) {
  staleErrorPending = true;
  EXPECT_NE(fn<void*()>("FIS_vTAPTable")(), nullptr);
  staleErrorPending = true;
  EXPECT_NE(fn<int32_t*()>("FIS_vcurTapTask")(), nullptr);
}

TEST_F(StaleLoaderError, MissingSymbolIsStillMissing) {
  staleErrorPending = true;
  EXPECT_EQ(tryResolve("_noSuchFirmwareSymbol"), nullptr);
}

}  // namespace
}  // namespace quarnel::test
