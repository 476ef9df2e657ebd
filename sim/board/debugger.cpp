// Stopping before the module's start-up entry until a debugger has attached
// (gdbserver --attach, started by the host once it hears the board waits).
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "board.h"
#include "link.h"

#ifndef PR_SET_PTRACER
#define PR_SET_PTRACER 0x59616d61
#endif
#ifndef PR_SET_PTRACER_ANY
#define PR_SET_PTRACER_ANY ((unsigned long)-1)
#endif

namespace {

// The kernel names the process that traces this one in its status file.
bool beingTraced() {
  char status[4096];
  const int fd = rawOpen("/proc/self/status", O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  long got = 0, total = 0;
  while (total < (long)sizeof status - 1 && (got = rawRead(fd, status + total, sizeof status - 1 - total)) > 0)
    total += got;
  rawClose(fd);
  status[total > 0 ? total : 0] = '\0';
  const char* line = strstr(status, "\nTracerPid:");
  return line != nullptr && strtol(line + 11, nullptr, 10) != 0;
}

}  // namespace

void boardAwaitDebugger(void) {
  if (boardWire->awaitDebugger == 0) return;
  // The debugger server is this process's sibling, not its parent: where the
  // kernel lets only ancestors attach, this one says any may.
  syscall(SYS_prctl, PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
  boardPost(WIRE_AWAITING_DEBUGGER, nullptr, 0, nullptr, 0);
  boardRing();
  const struct timespec pause = {0, 10000000L};  // 10 ms
  while (!beingTraced()) nanosleep(&pause, nullptr);  // an interrupted sleep only looks sooner
  boardPost(WIRE_DEBUGGER_ATTACHED, nullptr, 0, nullptr, 0);
}
