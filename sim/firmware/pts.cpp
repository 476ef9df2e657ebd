#include "pts.h"

#include "../platform/visible.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <mutex>
#include <optional>
#include <vector>

// The interposing definitions carry assembler names so that they are exactly
// the C library's symbols, whatever the headers map `open` to (large-file or
// fortified builds).
extern "C" {
int tapsimInterposedOpen(const char* path, int flags, ...) __asm__("open");
int tapsimInterposedOpen64(const char* path, int flags, ...) __asm__("open64");
ssize_t tapsimInterposedWrite(int descriptor, const void* data, size_t size) __asm__("write");
int tapsimInterposedClose(int descriptor) __asm__("close");
}

namespace tapsim::pts {
namespace {

using OpenFunction = int (*)(const char*, int, ...);
using WriteFunction = ssize_t (*)(int, const void*, size_t);
using CloseFunction = int (*)(int);

// No guard variable: a lookup that ran twice on two threads does no harm.
template <typename Function>
Function nextDefinition(std::atomic<Function>& cache, const char* name) {
  Function found = cache.load(std::memory_order_acquire);
  if (found == nullptr) {
    found = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    cache.store(found, std::memory_order_release);
  }
  return found;
}

constinit std::atomic<OpenFunction> realOpenCache{nullptr};
constinit std::atomic<OpenFunction> realOpen64Cache{nullptr};
constinit std::atomic<WriteFunction> realWriteCache{nullptr};
constinit std::atomic<CloseFunction> realCloseCache{nullptr};

OpenFunction realOpen() { return nextDefinition(realOpenCache, "open"); }
OpenFunction realOpen64() { return nextDefinition(realOpen64Cache, "open64"); }
WriteFunction realWrite() { return nextDefinition(realWriteCache, "write"); }
CloseFunction realClose() { return nextDefinition(realCloseCache, "close"); }

void releaseNullDevice(int number) {
  if (const CloseFunction close = realClose()) close(number);
}

struct Descriptor {
  int number;  // a real descriptor of the null device, so no real file can get it
  int terminal;
  bool writable;
};

struct State {
  Terminals openable;
  std::array<std::string, kTerminalCount> written;
  std::array<int, kTerminalCount> opens{};
  std::vector<Descriptor> descriptors;
};

// Never destroyed: a late write from another object's destructor must still
// find the table.
union Immortal {
  Immortal() : state() {}
  ~Immortal() {}
  State state;
};

constinit std::mutex mutex;
// Lets calls on real descriptors pass without the lock while no terminal is open.
constinit std::atomic<std::size_t> descriptorsInUse{0};

// Built on first use, so a call from another object's constructor finds it ready.
State& state() {
  static Immortal immortal;
  return immortal.state;
}

std::optional<int> terminalOf(const char* path) {
  constexpr std::string_view prefix = "/dev/pts/";
  if (path == nullptr) return std::nullopt;
  const std::string_view whole(path);
  if (!whole.starts_with(prefix)) return std::nullopt;
  const std::string_view digits = whole.substr(prefix.size());
  if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
  int number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
  if (number < 0 || number >= kTerminalCount) return std::nullopt;
  return number;
}

std::vector<Descriptor>::iterator findDescriptor(int number) {
  auto& all = state().descriptors;
  return std::find_if(all.begin(), all.end(), [number](const Descriptor& d) { return d.number == number; });
}

int openTerminal(int terminal, int flags) {
  const OpenFunction open = realOpen();
  if (open == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  std::lock_guard lock(mutex);
  if (!state().openable.test(static_cast<std::size_t>(terminal))) {
    errno = ENOENT;
    return -1;
  }
  const int number = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (number < 0) return -1;
  const int access = flags & O_ACCMODE;
  try {
    state().descriptors.push_back({number, terminal, access == O_WRONLY || access == O_RDWR});
  } catch (...) {
    releaseNullDevice(number);
    errno = ENOMEM;
    return -1;
  }
  ++state().opens[static_cast<std::size_t>(terminal)];
  descriptorsInUse.fetch_add(1, std::memory_order_release);
  return number;
}

// Linux moves at most this much in one call.
constexpr std::size_t kLargestWrite = 0x7FFFF000;

ssize_t writeTerminal(const Descriptor& descriptor, const void* data, std::size_t size) {
  if (!descriptor.writable) {
    errno = EBADF;
    return -1;
  }
  if (size == 0) return 0;
  if (data == nullptr) {
    errno = EFAULT;
    return -1;
  }
  const std::size_t taken = std::min(size, kLargestWrite);
  try {
    state().written[static_cast<std::size_t>(descriptor.terminal)].append(static_cast<const char*>(data),
                                                                          taken);
  } catch (...) {
    errno = ENOSPC;
    return -1;
  }
  return static_cast<ssize_t>(taken);
}

std::optional<ssize_t> writeIfVirtual(int number, const void* data, std::size_t size) {
  if (descriptorsInUse.load(std::memory_order_acquire) == 0) return std::nullopt;
  std::lock_guard lock(mutex);
  const auto found = findDescriptor(number);
  if (found == state().descriptors.end()) return std::nullopt;
  return writeTerminal(*found, data, size);
}

bool closeIfVirtual(int number) {
  if (descriptorsInUse.load(std::memory_order_acquire) == 0) return false;
  std::lock_guard lock(mutex);
  const auto found = findDescriptor(number);
  if (found == state().descriptors.end()) return false;
  releaseNullDevice(found->number);
  state().descriptors.erase(found);
  descriptorsInUse.fetch_sub(1, std::memory_order_release);
  return true;
}

int openEither(OpenFunction real, const char* path, int flags, int mode) {
  if (const auto terminal = terminalOf(path)) return openTerminal(*terminal, flags);
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return real(path, flags, mode);
}

}  // namespace

void setOpenable(const Terminals& openable) {
  std::lock_guard lock(mutex);
  state().openable = openable;
}

Terminals openable() {
  std::lock_guard lock(mutex);
  return state().openable;
}

std::string written(int terminal) {
  if (terminal < 0 || terminal >= kTerminalCount) return {};
  std::lock_guard lock(mutex);
  return state().written[static_cast<std::size_t>(terminal)];
}

int opens(int terminal) {
  if (terminal < 0 || terminal >= kTerminalCount) return 0;
  std::lock_guard lock(mutex);
  return state().opens[static_cast<std::size_t>(terminal)];
}

std::size_t openDescriptors() { return descriptorsInUse.load(std::memory_order_acquire); }

void reset() {
  std::lock_guard lock(mutex);
  for (const Descriptor& descriptor : state().descriptors) releaseNullDevice(descriptor.number);
  std::vector<Descriptor>().swap(state().descriptors);
  descriptorsInUse.store(0, std::memory_order_release);
  state().openable.reset();
  for (std::string& text : state().written) std::string().swap(text);
  state().opens.fill(0);
}

std::string visible(std::string_view bytes) { return visibleBytes(bytes); }

}  // namespace tapsim::pts

namespace {

// glibc reads the mode only when the flags ask for one; so do we.
bool needsMode(int flags) {
#ifdef __OPEN_NEEDS_MODE
  return __OPEN_NEEDS_MODE(flags);
#else
  return (flags & O_CREAT) != 0;
#endif
}

int modeFrom(int flags, va_list arguments) { return needsMode(flags) ? va_arg(arguments, int) : 0; }

}  // namespace

extern "C" int tapsimInterposedOpen(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int mode = modeFrom(flags, arguments);
  va_end(arguments);
  return tapsim::pts::openEither(tapsim::pts::realOpen(), path, flags, mode);
}

extern "C" int tapsimInterposedOpen64(const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int mode = modeFrom(flags, arguments);
  va_end(arguments);
  return tapsim::pts::openEither(tapsim::pts::realOpen64(), path, flags, mode);
}

extern "C" ssize_t tapsimInterposedWrite(int descriptor, const void* data, size_t size) {
  if (const auto done = tapsim::pts::writeIfVirtual(descriptor, data, size)) return *done;
  const auto write = tapsim::pts::realWrite();
  if (write == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return write(descriptor, data, size);
}

extern "C" int tapsimInterposedClose(int descriptor) {
  if (tapsim::pts::closeIfVirtual(descriptor)) return 0;
  const auto close = tapsim::pts::realClose();
  if (close == nullptr) {
    errno = EBADF;
    return -1;
  }
  return close(descriptor);
}
