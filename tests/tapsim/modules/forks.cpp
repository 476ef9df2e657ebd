// A main function that starts a process of its own, which leaves the
// session, writes its pid beside the run and waits for ever; the module
// itself then waits for the quit key.
#include "frame/tap.h"
#include "libc_calls.h"

extern "C" {

extern int32_t quitSeen;

int32_t TAP_Main(void) {
  if (fork() == 0) {
    setsid();
    int pid = getpid();
    char digits[16];
    int at = 15;
    digits[at] = '\n';
    do {
      digits[--at] = static_cast<char>('0' + pid % 10);
      pid /= 10;
    } while (pid != 0);
    const int fd = open(getenv("FORKED_PID_FILE"), 0101 /* O_WRONLY | O_CREAT */, 0644);
    write(fd, digits + at, static_cast<unsigned long>(16 - at));
    close(fd);
    for (;;) pause();
  }
  while (!quitSeen) TAP_SystemProc();
  return 0;
}

}  // extern "C"
