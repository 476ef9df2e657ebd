// What the board tells the host about a fault: the interrupted code's
// registers and the bytes of its stack. The host, which has the module's file
// and its debug information, finds the return addresses among them and names
// the functions and lines; the board only copies what lives in this process.
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include "board.h"
#include "link.h"

namespace {

// Where the interrupted code was: its instruction, its stack and, on MIPS,
// the return address that a function keeps in its register until it calls.
struct Interrupted {
  uintptr_t pc, sp, ra;
};

Interrupted interruptedAt(const void* context) {
  Interrupted at = {0, 0, 0};
  if (context == nullptr) return at;
  const mcontext_t& machine = static_cast<const ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
  at.pc = (uintptr_t)machine.gregs[REG_RIP];
  at.sp = (uintptr_t)machine.gregs[REG_RSP];
#elif defined(__mips__)
  at.pc = (uintptr_t)machine.pc;
  at.sp = (uintptr_t)machine.gregs[29];
  at.ra = (uintptr_t)machine.gregs[31];
#else
  (void)machine;
#endif
  return at;
}

const uintptr_t kChunk = 4096;  // the smallest page of either machine
// An overflowed stack's pointer lies below its pages; this far up they are looked for.
const uintptr_t kSearch = (uintptr_t)64 * 1024;
const uintptr_t kMostBytes = (uintptr_t)WIRE_MAX_PAYLOAD;

// Asked of the kernel through a pipe: a second fault inside this handler
// would end the process before anything is reported.
bool readable(int probe, uintptr_t address) { return rawWrite(probe, (const void*)address, 1) == 1; }

uintptr_t nextChunk(uintptr_t address) { return (address | (kChunk - 1)) + 1; }

struct Span {
  uintptr_t start, size;
};

// The readable stack from the stack pointer up, as much as one message carries.
Span readableStack(uintptr_t sp) {
  Span span = {0, 0};
  int probe[2];
  if (sp == 0 || syscall(SYS_pipe2, probe, O_NONBLOCK | O_CLOEXEC) != 0) return span;
  uintptr_t start = sp & ~(uintptr_t)(sizeof(void*) - 1);
  while (start - sp < kSearch && !readable(probe[1], start)) start = nextChunk(start);
  if (start - sp < kSearch) {
    uintptr_t end = start;
    while (end - start < kMostBytes && readable(probe[1], end)) end = nextChunk(end);
    span.start = start;
    span.size = end - start < kMostBytes ? end - start : kMostBytes;
  }
  rawClose(probe[0]);
  rawClose(probe[1]);
  return span;
}

const void* asPointer(uintptr_t value) { return (const void*)value; }

uint8_t stackCopy[kMostBytes];

// Byte by byte through a volatile pointer, and unchecked by a sanitizer:
// the stack holds the redzones it keeps between a frame's variables.
__attribute__((no_sanitize("address"))) void copyStack(Span stack) {
  const volatile uint8_t* from = (const volatile uint8_t*)stack.start;
  for (uintptr_t i = 0; i < stack.size; ++i) stackCopy[i] = from[i];
}

uint32_t wireSignal(int signal) {
  switch (signal) {
    case SIGSEGV: return WIRE_SIGNAL_SEGV;
    case SIGBUS: return WIRE_SIGNAL_BUS;
    case SIGILL: return WIRE_SIGNAL_ILL;
    case SIGFPE: return WIRE_SIGNAL_FPE;
    case SIGABRT: return WIRE_SIGNAL_ABRT;
    case SIGTRAP: return WIRE_SIGNAL_TRAP;
    case SIGSYS: return WIRE_SIGNAL_SYS;
    case SIGXCPU: return WIRE_SIGNAL_XCPU;
    default: return WIRE_SIGNAL_OTHER;
  }
}

}  // namespace

void boardReportCrash(int signal, const siginfo_t* info, const void* context) {
  const void* address = info != nullptr ? info->si_addr : nullptr;
  const Interrupted at = interruptedAt(context);
  const Span stack = readableStack(at.sp);
  copyStack(stack);
  const void* start = asPointer(stack.start);
  const uint32_t args[] = {wireSignal(signal),         lowWord(address),          highWord(address),
                           info != nullptr ? (uint32_t)info->si_code : 0,
                           lowWord(asPointer(at.pc)),  highWord(asPointer(at.pc)),
                           lowWord(asPointer(at.sp)),  highWord(asPointer(at.sp)),
                           lowWord(asPointer(at.ra)),  highWord(asPointer(at.ra)),
                           lowWord(start),             highWord(start)};
  boardPost(WIRE_CRASH, args, 12, stackCopy, (uint32_t)stack.size);
}
