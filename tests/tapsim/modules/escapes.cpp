// A module that tries to get out of its receiver, the way a hostile one
// would: ESCAPE names the attempt, ESCAPE_TARGET what it aims at (a file, a
// port, "@name" of an abstract socket or a socket's path, all the test's own).
// Attempts are raw system calls, which nothing between the module and the
// kernel sees; "library_*" ones go through the C library. It prints "escape
// answered N" (N: the error, 0 when the call went through), then waits for quit.
#include "frame/tap.h"
#include "libc_calls.h"

extern "C" {
extern int32_t quitSeen;
void* dlsym(void* handle, const char* name);
}

namespace {

#if defined(__mips__)
// o32: number in v0, arguments in a0..a3 and on the stack; a3 set on error.
long raw(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0) {
  register long v0 __asm__("$2") = 4000 + number;
  register long a0 __asm__("$4") = a, a1 __asm__("$5") = b, a2 __asm__("$6") = c, a3 __asm__("$7") = d;
  __asm__ volatile("addiu $sp, $sp, -32\n\tsw %6, 16($sp)\n\tsw %7, 20($sp)\n\tsyscall\n\taddiu $sp, $sp, 32"
                   : "+r"(v0), "+r"(a3)
                   : "r"(a0), "r"(a1), "r"(a2), "r"(a3), "r"(e), "r"(f)
                   : "$1", "$3", "$8", "$9", "$10", "$11", "$12", "$13", "$14", "$15", "$24", "$25", "hi", "lo",
                     "memory");
  return a3 != 0 ? -v0 : v0;
}
enum : long { kOpenat = 288, kClose = 6, kRename = 38, kLink = 9, kSocket = 183, kConnect = 170, kBind = 169,
              kSendto = 180, kKill = 37, kPtrace = 26, kVmReadv = 345, kIoUring = 425, kUnshare = 303, kIoctl = 54,
              kFork = 2, kExecve = 11, kGetppid = 64, kExit = 1, kCreate = 0x100 | 0x400 | 1, kTruncate = 0x200 | 1,
              kStream = 2, kDatagram = 1, kTiocsti = 0x5472, kUrgent = 21 };
long foreignCall() { return raw(6000 - 4000 + 39); }  // getpid of the n32 ABI, which qemu does not take
#else
long raw(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0) {
  register long r10 __asm__("r10") = d, r8 __asm__("r8") = e, r9 __asm__("r9") = f;
  long result;
  __asm__ volatile("syscall" : "=a"(result) : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8), "r"(r9)
                   : "rcx", "r11", "memory");
  return result;
}
enum : long { kOpenat = 257, kClose = 3, kRename = 82, kLink = 86, kSocket = 41, kConnect = 42, kBind = 49,
              kSendto = 44, kKill = 62, kPtrace = 101, kVmReadv = 310, kIoUring = 425, kUnshare = 272, kIoctl = 16,
              kFork = 57, kExecve = 59, kGetppid = 110, kExit = 60, kCreate = 0x40 | 0x80 | 1, kTruncate = 0x200 | 1,
              kStream = 1, kDatagram = 2, kTiocsti = 0x5412, kUrgent = 23 };
// getpid through the i386 gate, which a 64-bit filter must not let past.
long foreignCall() {
  long result;
  __asm__ volatile("int $0x80" : "=a"(result) : "a"(20L) : "r8", "r9", "r10", "r11", "memory");
  return result;
}
#endif

const long kHere = -100;  // AT_FDCWD

template <typename T>
long word(T value) { return (long)value; }

char* copy(char* into, const char* text) {
  while ((*into = *text++) != '\0') ++into;
  return into;  // at the terminating zero
}

bool same(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

char* number(char* at, unsigned long value) {
  char digits[24];
  int count = 0;
  do digits[count++] = static_cast<char>('0' + value % 10);
  while ((value /= 10) != 0);
  while (count > 0) *at++ = digits[--count];
  *at = '\0';
  return at;
}

long openPath(const char* path, long flags) { return raw(kOpenat, kHere, word(path), flags, 0600); }

long openInProc(long pid, const char* leaf, long flags) {
  char path[64];
  copy(copy(number(copy(path, "/proc/"), static_cast<unsigned long>(pid)), "/"), leaf);
  return openPath(path, flags);
}

// A loopback address of the family with the target's port, or a local socket's name; its length.
long addressOf(unsigned char* into, long family, const char* target) {
  for (int i = 0; i < 112; ++i) into[i] = 0;
  into[0] = static_cast<unsigned char>(family);  // the family is a native short, low byte first on both
  if (family == 1) {
    long length = word(copy(reinterpret_cast<char*>(into) + 2, target)) - word(into);
    if (target[0] == '@') into[2] = 0;
    return length;
  }
  long port = 0;
  while (*target >= '0' && *target <= '9') port = port * 10 + (*target++ - '0');
  into[2] = static_cast<unsigned char>(port >> 8);
  into[3] = static_cast<unsigned char>(port);
  if (family == 2) return into[4] = 127, into[7] = 1, 16;
  return into[23] = 1, 28;
}

// A socket of this kind, then the call on the address; the first refusal answers.
long throughSocket(long family, long type, long call, const char* target) {
  unsigned char address[112];
  const long size = addressOf(address, family, target), socket = raw(kSocket, family, type, 0);
  if (socket < 0) return socket;
  const long result = call == kSendto ? raw(call, socket, word("x"), 1, 0, word(address), size)
                                      : raw(call, socket, word(address), size);
  raw(kClose, socket);
  return result;
}

long reopenForWriting(const char* target) {
  const long fd = openPath(target, 0);
  if (fd < 0) return 1000;  // the module's own file should open: a fault of the test
  char path[64];
  number(copy(path, "/proc/self/fd/"), static_cast<unsigned long>(fd));
  return openPath(path, 2);
}

long readHostMemory() {
  char byte = 0;
  long local[2], remote[2];
  local[0] = word(&byte), remote[0] = 0x10000, local[1] = remote[1] = 1;
  return raw(kVmReadv, raw(kGetppid), word(local), 1, word(remote), 1, 0);
}

long forkChild() {
  const long pid = raw(kFork);
  if (pid == 0) raw(kExit, 0);
  return pid;
}

long execShell() {
  const char* argv[4];
  argv[0] = "sh", argv[1] = "-c", argv[2] = "exit 0", argv[3] = nullptr;
  return raw(kExecve, word("/bin/sh"), word(argv), word(argv + 3));
}

// A thread must still start: the filter refuses new processes, not threads.
// The receiver's C library has none; there qemu's own thread shows that they start.
long startThread() {
  using Start = int (*)(void*, const void*, void* (*)(void*), void*);
  const auto start = reinterpret_cast<Start>(dlsym(nullptr, "pthread_create"));
  const auto join = reinterpret_cast<int (*)(unsigned long, void**)>(dlsym(nullptr, "pthread_join"));
  unsigned long thread = 0;
  if (start == nullptr || join == nullptr) return 0;
  const int failed = start(&thread, nullptr, [](void* none) { return none; }, nullptr);
  return failed != 0 ? -failed : -join(thread, nullptr);
}

long rawAttempt(const char* name, const char* t) {
  char path[300];
  long scratch[32];  // io_uring's parameters, zeroed
  for (long& w : scratch) w = 0;
  const long host = raw(kGetppid);
  if (same(name, "read_host_file")) return openPath(t, 0);
  if (same(name, "create_host_file")) return openPath(t, kCreate);
  if (same(name, "truncate_host_file")) return openPath(t, kTruncate);
  if (same(name, "rename_host_file")) return raw(kRename, word(t), word((copy(copy(path, t), ".moved"), path)));
  if (same(name, "link_host_file")) return raw(kLink, word(t), word((copy(copy(path, t), ".linked"), path)));
  if (same(name, "follow_link_out_of_proc")) return openPath((copy(copy(path, "/proc/self/root"), t), path), 0);
  if (same(name, "write_host_memory")) return openInProc(host, "mem", 2);
  if (same(name, "read_host_environment")) return openInProc(host, "environ", 0);
  if (same(name, "reopen_descriptor_for_writing")) return reopenForWriting(t);
  if (same(name, "exec_shell")) return execShell();
  if (same(name, "tcp_ipv4")) return throughSocket(2, kStream, kConnect, t);
  if (same(name, "tcp_ipv6")) return throughSocket(10, kStream, kConnect, t);
  if (same(name, "udp_ipv4")) return throughSocket(2, kDatagram, kSendto, t);
  if (same(name, "udp_ipv6")) return throughSocket(10, kDatagram, kSendto, t);
  if (same(name, "bind_tcp")) return throughSocket(2, kStream, kBind, "0");
  if (same(name, "unix_socket") || same(name, "abstract_unix_socket")) return throughSocket(1, kStream, kConnect, t);
  if (same(name, "signal_host")) return raw(kKill, host, 0);
  if (same(name, "signal_everyone")) return raw(kKill, -1, kUrgent);  // ignored where nobody asks for it
  if (same(name, "ptrace_host")) return raw(kPtrace, 0x4206 /* PTRACE_SEIZE */, host, 0, 0);
  if (same(name, "read_host_memory_directly")) return readHostMemory();
  if (same(name, "io_uring")) return raw(kIoUring, 4, word(scratch));
  if (same(name, "unshare_user_namespace")) return raw(kUnshare, 0x10000000 /* CLONE_NEWUSER */);
  if (same(name, "push_terminal_input")) return raw(kIoctl, 0, kTiocsti, word("x"));
  if (same(name, "fork")) return forkChild();
  if (same(name, "foreign_call_number")) return foreignCall();
  if (same(name, "start_thread")) return startThread();
  return 2000;  // an attempt this module does not know: a fault of the test
}

// Through the C library, as a module's author writes it; the board sees these.
long libraryAttempt(const char* name, const char* target) {
  const auto find = [](const char* symbol) { return dlsym(nullptr /* RTLD_DEFAULT */, symbol); };
  long result = 0;
  if (same(name, "library_getenv"))
    return reinterpret_cast<const char* (*)(const char*)>(find("getenv"))("TAPSIM_TEST_SECRET") != nullptr ? 0 : -13;
  if (same(name, "library_fopen"))
    result = reinterpret_cast<void* (*)(const char*, const char*)>(find("fopen"))(target, "r") != nullptr ? 0 : -1;
  else if (same(name, "library_open"))
    result = open(target, 0);
  else if (same(name, "library_opendir"))
    result = reinterpret_cast<void* (*)(const char*)>(find("opendir"))(target) != nullptr ? 0 : -1;
  else if (same(name, "library_unlink"))
    result = reinterpret_cast<int (*)(const char*)>(find("unlink"))(target);
  else if (same(name, "library_socket"))
    result = reinterpret_cast<int (*)(int, int, int)>(find("socket"))(2, kStream, 0);
  else if (same(name, "library_fork") && (result = reinterpret_cast<int (*)()>(find("fork"))()) == 0)
    raw(kExit, 0);
  return result < 0 ? -*reinterpret_cast<int* (*)()>(find("__errno_location"))() : result;
}

}  // namespace

extern "C" int32_t TAP_Main(void) {
  const auto environment = reinterpret_cast<const char* (*)(const char*)>(dlsym(nullptr, "getenv"));
  const char* name = environment("ESCAPE");
  const char* target = environment("ESCAPE_TARGET");
  if (name == nullptr || target == nullptr) return 1;
  const bool library = name[0] == 'l' && name[1] == 'i' && name[2] == 'b';
  const long result = library ? libraryAttempt(name, target) : rawAttempt(name, target);
  TAP_Print("escape answered %d\n", static_cast<int>(result < 0 ? -result : 0));
  while (!quitSeen) TAP_SystemProc();
  return 0;
}
