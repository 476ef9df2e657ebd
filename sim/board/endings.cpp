// How a module's process can end other than by returning from its main
// function, each told to the host in words before it happens: a fault, an
// exit of its own, and a fork (whose child is not the board).
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "board.h"
#include "link.h"

// The C library's names, taken over for the module: the executable's
// definitions come first in the lookup order.
extern "C" {
[[noreturn]] void boardExitCall(int code) __asm__("exit");
[[noreturn]] void boardUnderscoreExitCall(int code) __asm__("_exit");
[[noreturn]] void boardCapitalExitCall(int code) __asm__("_Exit");
pid_t boardForkCall(void) __asm__("fork");
}

namespace {

[[noreturn]] void moduleExit(int code, uint32_t how) {
  if (!boardIsForkedChild) {
    const uint32_t args[] = {(uint32_t)code, how};
    boardPost(WIRE_EXIT, args, 2, nullptr, 0);
    boardRing();
    boardEnd(WIRE_BOARD_EXITED);
  }
  boardEnd(code);
}

// Room to report a stack overflow from, outside the stack that overflowed.
char alternateStack[64 * 1024];

void onFault(int signal, siginfo_t* info, void* context) {
  if (!boardIsForkedChild) {
    boardReportCrash(signal, info, context);
    boardRing();
  }
  // Ends by the signal itself, so the host sees how the process died.
  struct sigaction plain;
  memset(&plain, 0, sizeof plain);
  plain.sa_handler = SIG_DFL;
  sigaction(signal, &plain, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  syscall(SYS_kill, syscall(SYS_getpid), signal);
}

}  // namespace

extern "C" void boardExitCall(int code) { moduleExit(code, WIRE_EXIT_EXIT); }
extern "C" void boardUnderscoreExitCall(int code) { moduleExit(code, WIRE_EXIT_UNDERSCORE); }
extern "C" void boardCapitalExitCall(int code) { moduleExit(code, WIRE_EXIT_CAPITAL); }

extern "C" pid_t boardForkCall(void) {
#ifdef SYS_fork
  const long pid = syscall(SYS_fork);
#else
  const long pid = syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0);
#endif
  if (pid == 0) boardIsForkedChild = 1;
  if (pid < 0 && (errno == EPERM || errno == EACCES)) {
    const int error = errno;
    boardTellRefused("fork()");
    errno = error;
  }
  return (pid_t)pid;
}

void boardInstallFaultHandlers(void) {
  stack_t stack;
  memset(&stack, 0, sizeof stack);
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_sigaction = onFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  // SIGXCPU is the host's question where a module that hangs is stuck.
  const int signals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS, SIGXCPU};
  for (const int signal : signals) sigaction(signal, &action, nullptr);
}
