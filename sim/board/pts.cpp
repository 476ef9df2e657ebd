// Virtual pseudo-terminals: "/dev/pts/N" for N in 0..19 is served here and
// never reaches a real terminal; what the module writes there goes to the
// host. Every other path and descriptor goes on to the system, and the host
// hears of an open the sandbox refused.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <string.h>
#include <unistd.h>

#include "link.h"

extern "C" {
int boardOpen(const char* path, int flags, ...) __asm__("open");
int boardOpen64(const char* path, int flags, ...) __asm__("open64");
ssize_t boardWrite(int descriptor, const void* data, size_t size) __asm__("write");
int boardClose(int descriptor) __asm__("close");
}

namespace {

const int kTerminals = 20;
const size_t kLargestWrite = 0x7FFFF000;  // Linux moves at most this much in one call

struct Descriptor {
  int number;  // a real descriptor of the null device, so no real file can get it
  int terminal;
  int writable;
};

Descriptor descriptors[64];
int descriptorCount = 0;

// "/dev/pts/N" with N in 0..19 written plainly; -1 for any other path.
int terminalOf(const char* path) {
  static const char prefix[] = "/dev/pts/";
  if (path == nullptr || strncmp(path, prefix, sizeof prefix - 1) != 0) return -1;
  const char* digits = path + sizeof prefix - 1;
  const size_t count = strlen(digits);
  if (count == 0 || count > 2 || (count == 2 && digits[0] == '0')) return -1;
  int number = 0;
  for (size_t i = 0; i < count; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return -1;
    number = number * 10 + (digits[i] - '0');
  }
  return number < kTerminals ? number : -1;
}

Descriptor* find(int number) {
  for (int i = 0; i < descriptorCount; ++i)
    if (descriptors[i].number == number) return &descriptors[i];
  return nullptr;
}

int openTerminal(int terminal, int flags) {
  if ((boardWire->openTerminals & (1u << terminal)) == 0 || boardIsForkedChild) {
    errno = ENOENT;
    return -1;
  }
  if (descriptorCount == (int)(sizeof descriptors / sizeof descriptors[0])) {
    errno = EMFILE;
    return -1;
  }
  const int number = rawOpen("/dev/null", O_RDWR | O_CLOEXEC, 0);
  if (number < 0) return -1;
  const int access = flags & O_ACCMODE;
  descriptors[descriptorCount++] = {number, terminal, access == O_WRONLY || access == O_RDWR};
  return number;
}

int openEither(const char* call, const char* path, int flags, int mode) {
  const int terminal = terminalOf(path);
  if (terminal >= 0) return openTerminal(terminal, flags);
  return boardOpenTold(call, path, flags, mode);
}

ssize_t writeTerminal(const Descriptor& descriptor, const void* data, size_t size) {
  if (!descriptor.writable) {
    errno = EBADF;
    return -1;
  }
  if (size == 0) return 0;
  if (data == nullptr) {
    errno = EFAULT;
    return -1;
  }
  const size_t taken = size < kLargestWrite ? size : kLargestWrite;
  for (size_t done = 0; done < taken;) {
    const size_t chunk = taken - done < WIRE_MAX_PAYLOAD ? taken - done : WIRE_MAX_PAYLOAD;
    const uint32_t args[] = {(uint32_t)descriptor.terminal};
    boardPost(WIRE_PTS_WRITE, args, 1, static_cast<const char*>(data) + done, (uint32_t)chunk);
    done += chunk;
  }
  return (ssize_t)taken;
}

}  // namespace

int boardOpenMode(int flags, va_list arguments) {
#ifdef O_TMPFILE
  const bool needsMode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
#else
  const bool needsMode = (flags & O_CREAT) != 0;
#endif
  return needsMode ? va_arg(arguments, int) : 0;
}

extern "C" int boardOpen(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int mode = boardOpenMode(flags, arguments);
  va_end(arguments);
  return openEither("open", path, flags, mode);
}

extern "C" int boardOpen64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int mode = boardOpenMode(flags, arguments);
  va_end(arguments);
#ifdef O_LARGEFILE
  flags |= O_LARGEFILE;
#endif
  return openEither("open64", path, flags, mode);
}

extern "C" ssize_t boardWrite(int descriptor, const void* data, size_t size) {
  if (const Descriptor* found = find(descriptor)) return writeTerminal(*found, data, size);
  return (ssize_t)rawWrite(descriptor, data, size);
}

extern "C" int boardClose(int descriptor) {
  if (Descriptor* found = find(descriptor)) {
    rawClose(found->number);
    *found = descriptors[--descriptorCount];
    return 0;
  }
  return rawClose(descriptor);
}
