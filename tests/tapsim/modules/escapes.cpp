// A module that tries to get out of its receiver, the way a hostile one
// would: ESCAPE names the attempt, ESCAPE_TARGET what it aims at (a file, a
// port or a socket of the test's own). Attempts are raw system calls, which
// nothing between the module and the kernel sees; "library_*" attempts go
// through the C library instead. It prints "escape answered N" (N: the
// error, 0 when the call went through) and then waits for the quit key.
#include "frame/tap.h"
#include "libc_calls.h"

extern "C" {

extern int32_t quitSeen;
void* dlsym(void* handle, const char* name);

}  // extern "C"

namespace {

#if defined(__mips__)
// o32: number in v0, arguments in a0..a3 and on the stack; a3 set on error.
long raw(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0) {
  register long v0 __asm__("$2") = 4000 + number;
  register long a0 __asm__("$4") = a;
  register long a1 __asm__("$5") = b;
  register long a2 __asm__("$6") = c;
  register long a3 __asm__("$7") = d;
  __asm__ volatile(
      "addiu $sp, $sp, -32\n\tsw %6, 16($sp)\n\tsw %7, 20($sp)\n\tsyscall\n\taddiu $sp, $sp, 32"
      : "+r"(v0), "+r"(a3)
      : "r"(a0), "r"(a1), "r"(a2), "r"(a3), "r"(e), "r"(f)
      : "$1", "$3", "$8", "$9", "$10", "$11", "$12", "$13", "$14", "$15", "$24", "$25", "hi", "lo", "memory");
  return a3 != 0 ? -v0 : v0;
}
struct Numbers {
  long openat = 288, close = 6, rename = 38, link = 9, socket = 183, connect = 170, bind = 169, sendto = 180,
       kill = 37, ptrace = 26, processVmReadv = 345, ioUringSetup = 425, unshare = 303, ioctl = 54, fork = 2,
       execve = 11, getppid = 64, exit = 1;
};
long foreignCall() { return raw(6000 - 4000 + 39); }  // getpid of the n32 ABI, which qemu does not take
const long kCreate = 0x100 | 0x400 | 1, kTruncate = 0x200 | 1, kStream = 2, kDatagram = 1, kTiocsti = 0x5472,
           kUrgent = 21;
#else
long raw(long number, long a = 0, long b = 0, long c = 0, long d = 0, long e = 0, long f = 0) {
  register long r10 __asm__("r10") = d;
  register long r8 __asm__("r8") = e;
  register long r9 __asm__("r9") = f;
  long result;
  __asm__ volatile("syscall"
                   : "=a"(result)
                   : "a"(number), "D"(a), "S"(b), "d"(c), "r"(r10), "r"(r8), "r"(r9)
                   : "rcx", "r11", "memory");
  return result;
}
struct Numbers {
  long openat = 257, close = 3, rename = 82, link = 86, socket = 41, connect = 42, bind = 49, sendto = 44,
       kill = 62, ptrace = 101, processVmReadv = 310, ioUringSetup = 425, unshare = 272, ioctl = 16, fork = 57,
       execve = 59, getppid = 110, exit = 60;
};
// getpid through the i386 gate, which a 64-bit filter must not let past.
long foreignCall() {
  long result;
  __asm__ volatile("int $0x80" : "=a"(result) : "a"(20L) : "r8", "r9", "r10", "r11", "memory");
  return result;
}
const long kCreate = 0x40 | 0x80 | 1, kTruncate = 0x200 | 1, kStream = 1, kDatagram = 2, kTiocsti = 0x5412,
           kUrgent = 23;
#endif

const Numbers sys;
const long kHere = -100;  // AT_FDCWD

char* copy(char* into, const char* text) {
  while ((*into = *text++) != '\0') ++into;
  return into;  // at the terminating zero
}

long length(const char* text) {
  long count = 0;
  while (text[count] != '\0') ++count;
  return count;
}

const char* withSuffix(char* into, const char* path, const char* suffix) {
  copy(copy(into, path), suffix);
  return into;
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

// "/proc/<n>/<leaf>"
const char* procPath(char* into, long pid, const char* leaf) {
  char* at = number(copy(into, "/proc/"), static_cast<unsigned long>(pid));
  *at++ = '/';
  copy(at, leaf);
  return into;
}

unsigned short bigEndian(long port) { return static_cast<unsigned short>(((port & 0xFF) << 8) | ((port >> 8) & 0xFF)); }

// Filled field by field: the receiver's module has no memcpy to copy an initialiser with.
struct Inet4 {
  unsigned short family, port;
  unsigned char address[4], zero[8];
};
struct Inet6 {
  unsigned short family, port;
  unsigned flow;
  unsigned char address[16];
  unsigned scope;
};
struct Local {
  unsigned short family;
  char path[108];
};

void clear(void* bytes, long size) {
  for (long i = 0; i < size; ++i) static_cast<volatile char*>(bytes)[i] = 0;
}

long portOf(const char* text) {
  long value = 0;
  while (*text >= '0' && *text <= '9') value = value * 10 + (*text++ - '0');
  return value;
}

// A socket of this kind, then the call on the address; the first refusal answers.
long throughSocket(long family, long type, long call, const void* address, long size) {
  const long socket = raw(sys.socket, family, type, 0);
  if (socket < 0) return socket;
  const long result = call == sys.sendto ? raw(call, socket, reinterpret_cast<long>("x"), 1, 0,
                                               reinterpret_cast<long>(address), size)
                                         : raw(call, socket, reinterpret_cast<long>(address), size);
  raw(sys.close, socket);
  return result;
}

long viaInet(const char* target, bool six, long type, long call) {
  Inet4 four;
  Inet6 sixAddress;
  clear(&four, sizeof four);
  clear(&sixAddress, sizeof sixAddress);
  four.family = 2;
  sixAddress.family = 10;
  four.address[0] = 127;
  four.address[3] = 1;
  sixAddress.address[15] = 1;
  four.port = sixAddress.port = bigEndian(portOf(target));
  return six ? throughSocket(10, type, call, &sixAddress, sizeof sixAddress)
             : throughSocket(2, type, call, &four, sizeof four);
}

long viaLocal(const char* target, bool abstract) {
  Local local;
  clear(&local, sizeof local);
  local.family = 1;
  copy(local.path + (abstract ? 1 : 0), target);
  return throughSocket(1, kStream, sys.connect, &local, 2 + length(target) + (abstract ? 1 : 0));
}

long reopenForWriting(const char* target) {
  const long fd = raw(sys.openat, kHere, reinterpret_cast<long>(target), 0);
  if (fd < 0) return 1000;  // the module's own file should open: a fault of the test
  char path[64];
  number(copy(path, "/proc/self/fd/"), static_cast<unsigned long>(fd));
  return raw(sys.openat, kHere, reinterpret_cast<long>(path), 2);
}

long readHostMemory() {
  char byte = 0;
  long local[2], remote[2];
  local[0] = reinterpret_cast<long>(&byte);
  remote[0] = 0x10000;
  local[1] = remote[1] = 1;
  return raw(sys.processVmReadv, raw(sys.getppid), reinterpret_cast<long>(local), 1, reinterpret_cast<long>(remote),
             1, 0);
}

long forkChild() {
  const long pid = raw(sys.fork);
  if (pid == 0) raw(sys.exit, 0);
  return pid;
}

long execShell() {
  const char* argv[4];
  argv[0] = "sh";
  argv[1] = "-c";
  argv[2] = "exit 0";
  argv[3] = nullptr;
  const char* envp[1];
  envp[0] = nullptr;
  return raw(sys.execve, reinterpret_cast<long>("/bin/sh"), reinterpret_cast<long>(argv), reinterpret_cast<long>(envp));
}

long rawAttempt(const char* name, const char* target) {
  char path[300];
  const long host = raw(sys.getppid);
  const auto t = reinterpret_cast<long>(target);
  if (same(name, "read_host_file")) return raw(sys.openat, kHere, t, 0);
  if (same(name, "create_host_file")) return raw(sys.openat, kHere, t, kCreate, 0600);
  if (same(name, "truncate_host_file")) return raw(sys.openat, kHere, t, kTruncate);
  if (same(name, "rename_host_file")) return raw(sys.rename, t, reinterpret_cast<long>(withSuffix(path, target, ".moved")));
  if (same(name, "link_host_file")) return raw(sys.link, t, reinterpret_cast<long>(withSuffix(path, target, ".linked")));
  if (same(name, "follow_link_out_of_proc"))
    return raw(sys.openat, kHere, reinterpret_cast<long>(withSuffix(path, "/proc/self/root", target)), 0);
  if (same(name, "write_host_memory")) return raw(sys.openat, kHere, reinterpret_cast<long>(procPath(path, host, "mem")), 2);
  if (same(name, "read_host_environment")) return raw(sys.openat, kHere, reinterpret_cast<long>(procPath(path, host, "environ")), 0);
  if (same(name, "reopen_descriptor_for_writing")) return reopenForWriting(target);
  if (same(name, "exec_shell")) return execShell();
  if (same(name, "tcp_ipv4")) return viaInet(target, false, kStream, sys.connect);
  if (same(name, "tcp_ipv6")) return viaInet(target, true, kStream, sys.connect);
  if (same(name, "udp_ipv4")) return viaInet(target, false, kDatagram, sys.sendto);
  if (same(name, "udp_ipv6")) return viaInet(target, true, kDatagram, sys.sendto);
  if (same(name, "bind_tcp")) return viaInet("0", false, kStream, sys.bind);
  if (same(name, "abstract_unix_socket")) return viaLocal(target, true);
  if (same(name, "path_unix_socket")) return viaLocal(target, false);
  if (same(name, "signal_host")) return raw(sys.kill, host, 0);
  if (same(name, "signal_everyone")) return raw(sys.kill, -1, kUrgent);  // ignored where nobody asks for it
  if (same(name, "ptrace_host")) return raw(sys.ptrace, 0x4206 /* PTRACE_SEIZE */, host, 0, 0);
  if (same(name, "read_host_memory_directly")) return readHostMemory();
  if (same(name, "io_uring")) {
    long parameters[16];
    clear(parameters, sizeof parameters);
    return raw(sys.ioUringSetup, 4, reinterpret_cast<long>(parameters));
  }
  if (same(name, "unshare_user_namespace")) return raw(sys.unshare, 0x10000000 /* CLONE_NEWUSER */);
  if (same(name, "push_terminal_input")) return raw(sys.ioctl, 0, kTiocsti, reinterpret_cast<long>("x"));
  if (same(name, "fork")) return forkChild();
  if (same(name, "foreign_call_number")) return foreignCall();
  return 2000;  // an attempt this module does not know: a fault of the test
}

// Through the C library, as a module's author writes it; the board sees these.
long libraryAttempt(const char* name, const char* target) {
  void* const everywhere = nullptr;  // RTLD_DEFAULT
  const auto error = reinterpret_cast<int* (*)()>(dlsym(everywhere, "__errno_location"));
  long result = 0;
  if (same(name, "library_fopen")) {
    using Fopen = void* (*)(const char*, const char*);
    result = reinterpret_cast<Fopen>(dlsym(everywhere, "fopen"))(target, "r") != nullptr ? 0 : -1;
  } else if (same(name, "library_open")) {
    result = open(target, 0);
  } else if (same(name, "library_opendir")) {
    using Opendir = void* (*)(const char*);
    result = reinterpret_cast<Opendir>(dlsym(everywhere, "opendir"))(target) != nullptr ? 0 : -1;
  } else if (same(name, "library_unlink")) {
    result = reinterpret_cast<int (*)(const char*)>(dlsym(everywhere, "unlink"))(target);
  } else if (same(name, "library_socket")) {
    result = reinterpret_cast<int (*)(int, int, int)>(dlsym(everywhere, "socket"))(2, static_cast<int>(kStream), 0);
  } else if (same(name, "library_kill")) {
    result = reinterpret_cast<int (*)(int, int)>(dlsym(everywhere, "kill"))(static_cast<int>(raw(sys.getppid)), 0);
  } else if (same(name, "library_fork")) {
    result = reinterpret_cast<int (*)()>(dlsym(everywhere, "fork"))();
    if (result == 0) raw(sys.exit, 0);
  }
  return result < 0 && error != nullptr ? -*error() : result;
}

}  // namespace

extern "C" int32_t TAP_Main(void) {
  using Getenv = const char* (*)(const char*);
  const auto environment = reinterpret_cast<Getenv>(dlsym(nullptr, "getenv"));
  const char* name = environment("ESCAPE");
  const char* target = environment("ESCAPE_TARGET");
  if (name == nullptr) name = "";
  if (target == nullptr) target = "";
  const bool library = name[0] == 'l' && name[1] == 'i' && name[2] == 'b';
  const long result = library ? libraryAttempt(name, target) : rawAttempt(name, target);
  TAP_Print("escape answered %d\n", static_cast<int>(result < 0 ? -result : 0));
  while (!quitSeen) TAP_SystemProc();
  return 0;
}
