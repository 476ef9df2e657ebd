// The C library calls that reach outside the receiver, taken over for the
// module: each goes on to the C library, and when the sandbox refuses it the
// host hears the call and its argument, so that the summary can say what the
// module tried. Raw system calls pass unseen; the sandbox refuses them all the same.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include "link.h"

extern "C" {
int boardOpenat(int folder, const char* path, int flags, ...) __asm__("openat");
int boardOpenat64(int folder, const char* path, int flags, ...) __asm__("openat64");
int boardCreat(const char* path, unsigned mode) __asm__("creat");
void* boardFopen(const char* path, const char* mode) __asm__("fopen");
void* boardFopen64(const char* path, const char* mode) __asm__("fopen64");
int boardStat(const char* path, void* argument) __asm__("stat");
int boardStat64(const char* path, void* argument) __asm__("stat64");
int boardLstat(const char* path, void* argument) __asm__("lstat");
int boardLstat64(const char* path, void* argument) __asm__("lstat64");
int boardAccess(const char* path, int argument) __asm__("access");
void* boardOpendir(const char* path) __asm__("opendir");
int boardUnlink(const char* path) __asm__("unlink");
int boardRmdir(const char* path) __asm__("rmdir");
int boardMkdir(const char* path, unsigned argument) __asm__("mkdir");
int boardRename(const char* from, const char* to) __asm__("rename");
int boardLink(const char* from, const char* to) __asm__("link");
int boardSymlink(const char* from, const char* to) __asm__("symlink");
int boardTruncate(const char* path, long argument) __asm__("truncate");
int boardSocket(int family, int type, int protocol) __asm__("socket");
int boardConnect(int socket, const struct sockaddr* address, socklen_t size) __asm__("connect");
int boardBind(int socket, const struct sockaddr* address, socklen_t size) __asm__("bind");
int boardKill(pid_t pid, int signal) __asm__("kill");
int boardExecve(const char* path, char* const argv[], char* const envp[]) __asm__("execve");
int boardExecv(const char* path, char* const* argument) __asm__("execv");
int boardExecvp(const char* path, char* const* argument) __asm__("execvp");
int boardSystem(const char* command) __asm__("system");
}

namespace {

// What comes after the board in the lookup order: the C library's own.
void* next(const char* name) { return dlsym(RTLD_NEXT, name); }

template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(next(name));
}

void append(char* text, size_t room, const char* part) { strncat(text, part, room - strlen(text) - 1); }

void appendQuoted(char* text, size_t room, const char* part) {
  append(text, room, "\"");
  append(text, room, part != nullptr ? part : "(null)");
  append(text, room, "\"");
}

bool refused(int error) { return error == EACCES || error == EPERM; }

void tell(const char* text) {
  boardPost(WIRE_REFUSED, nullptr, 0, text, (uint32_t)strlen(text) + 1);
}

// call("path") or call("path", "other"), when the sandbox refused it.
template <typename Result>
Result told(Result result, bool failed, const char* call, const char* path, const char* other = nullptr) {
  if (!failed || !refused(errno)) return result;
  const int error = errno;
  char text[400] = "";
  append(text, sizeof text, call);
  append(text, sizeof text, "(");
  appendQuoted(text, sizeof text, path);
  if (other != nullptr) {
    append(text, sizeof text, ", ");
    appendQuoted(text, sizeof text, other);
  }
  append(text, sizeof text, ")");
  tell(text);
  errno = error;
  return result;
}

int openAt(const char* call, int folder, const char* path, int flags, int mode) {
  const int fd = (int)syscall(SYS_openat, folder, path, flags, mode);
  return told(fd, fd < 0, call, path);
}

}  // namespace

void boardTellRefused(const char* call) { tell(call); }

int boardOpenTold(const char* call, const char* path, int flags, int mode) {
  return openAt(call, AT_FDCWD, path, flags, mode);
}

namespace {

// "127.0.0.1 port 80", "[::1] port 80", "/run/x.sock", "@abstract".
void describeAddress(char* text, size_t room, const struct sockaddr* address, socklen_t size) {
  char shown[INET6_ADDRSTRLEN + 16] = "an address";
  if (address != nullptr && size >= sizeof(sa_family_t)) {
    if (address->sa_family == AF_INET && size >= sizeof(sockaddr_in)) {
      const auto* inet = reinterpret_cast<const sockaddr_in*>(address);
      inet_ntop(AF_INET, &inet->sin_addr, shown, sizeof shown);
      snprintf(shown + strlen(shown), sizeof shown - strlen(shown), " port %u", ntohs(inet->sin_port));
    } else if (address->sa_family == AF_INET6 && size >= sizeof(sockaddr_in6)) {
      const auto* inet6 = reinterpret_cast<const sockaddr_in6*>(address);
      shown[0] = '[';
      inet_ntop(AF_INET6, &inet6->sin6_addr, shown + 1, sizeof shown - 1);
      snprintf(shown + strlen(shown), sizeof shown - strlen(shown), "] port %u", ntohs(inet6->sin6_port));
    } else if (address->sa_family == AF_UNIX && size > sizeof(sa_family_t)) {
      const auto* local = reinterpret_cast<const sockaddr_un*>(address);
      const size_t length = size - sizeof(sa_family_t) < sizeof local->sun_path ? size - sizeof(sa_family_t)
                                                                                 : sizeof local->sun_path;
      const bool abstract = local->sun_path[0] == '\0';
      shown[0] = abstract ? '@' : local->sun_path[0];
      const size_t copied = length - 1 < sizeof shown - 2 ? length - 1 : sizeof shown - 2;
      memcpy(shown + 1, local->sun_path + 1, copied);
      shown[1 + copied] = '\0';
    }
  }
  append(text, room, shown);
}

int addressCall(const char* call, int result, int socket, const struct sockaddr* address, socklen_t size) {
  if (result == 0 || !refused(errno)) return result;
  const int error = errno;
  char text[200];
  snprintf(text, sizeof text, "%s(%d, ", call, socket);
  describeAddress(text, sizeof text, address, size);
  append(text, sizeof text, ")");
  tell(text);
  errno = error;
  return result;
}

}  // namespace

extern "C" int boardOpenat(int folder, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int mode = boardOpenMode(flags, arguments);
  va_end(arguments);
  return openAt("openat", folder, path, flags, mode);
}

extern "C" int boardOpenat64(int folder, const char* path, int flags, ...) {
  va_list arguments;
  va_start(arguments, flags);
  const int mode = boardOpenMode(flags, arguments);
  va_end(arguments);
#ifdef O_LARGEFILE
  flags |= O_LARGEFILE;
#endif
  return openAt("openat64", folder, path, flags, mode);
}

extern "C" int boardCreat(const char* path, unsigned mode) {
  return openAt("creat", AT_FDCWD, path, O_CREAT | O_WRONLY | O_TRUNC, (int)mode);
}

extern "C" void* boardFopen(const char* path, const char* mode) {
  void* file = real<void* (*)(const char*, const char*)>("fopen")(path, mode);
  return told(file, file == nullptr, "fopen", path, mode);
}

extern "C" void* boardFopen64(const char* path, const char* mode) {
  void* file = real<void* (*)(const char*, const char*)>("fopen64")(path, mode);
  return told(file, file == nullptr, "fopen64", path, mode);
}

#define BOARD_PATH_CALL(function, name, type, ...)                  \
  extern "C" int function(const char* path, type argument) {        \
    const int result = real<int (*)(const char*, type)>(name)(path, argument); \
    return told(result, result != 0, name, path);                   \
  }
BOARD_PATH_CALL(boardStat, "stat", void*)
BOARD_PATH_CALL(boardStat64, "stat64", void*)
BOARD_PATH_CALL(boardLstat, "lstat", void*)
BOARD_PATH_CALL(boardLstat64, "lstat64", void*)
BOARD_PATH_CALL(boardAccess, "access", int)
BOARD_PATH_CALL(boardMkdir, "mkdir", unsigned)
BOARD_PATH_CALL(boardTruncate, "truncate", long)
BOARD_PATH_CALL(boardExecv, "execv", char* const*)
BOARD_PATH_CALL(boardExecvp, "execvp", char* const*)

extern "C" void* boardOpendir(const char* path) {
  void* folder = real<void* (*)(const char*)>("opendir")(path);
  return told(folder, folder == nullptr, "opendir", path);
}

extern "C" int boardUnlink(const char* path) {
  const int result = real<int (*)(const char*)>("unlink")(path);
  return told(result, result != 0, "unlink", path);
}

extern "C" int boardRmdir(const char* path) {
  const int result = real<int (*)(const char*)>("rmdir")(path);
  return told(result, result != 0, "rmdir", path);
}

extern "C" int boardSystem(const char* command) {
  const int result = real<int (*)(const char*)>("system")(command);
  return told(result, result == -1, "system", command);
}

#define BOARD_TWO_PATH_CALL(function, name)                                  \
  extern "C" int function(const char* from, const char* to) {               \
    const int result = real<int (*)(const char*, const char*)>(name)(from, to); \
    return told(result, result != 0, name, from, to);                        \
  }
BOARD_TWO_PATH_CALL(boardRename, "rename")
BOARD_TWO_PATH_CALL(boardLink, "link")
BOARD_TWO_PATH_CALL(boardSymlink, "symlink")

extern "C" int boardExecve(const char* path, char* const argv[], char* const envp[]) {
  const int result = real<int (*)(const char*, char* const*, char* const*)>("execve")(path, argv, envp);
  return told(result, true, "execve", path);
}

extern "C" int boardSocket(int family, int type, int protocol) {
  const int result = real<int (*)(int, int, int)>("socket")(family, type, protocol);
  if (result >= 0 || !refused(errno)) return result;
  const int error = errno;
  const int kind = type & 0xF;
  const char* familyName = family == AF_INET ? "AF_INET" : family == AF_INET6 ? "AF_INET6" : family == AF_UNIX ? "AF_UNIX" : nullptr;
  const char* kindName = kind == SOCK_STREAM ? "SOCK_STREAM" : kind == SOCK_DGRAM ? "SOCK_DGRAM" : kind == SOCK_RAW ? "SOCK_RAW" : nullptr;
  char text[96], familyText[16], kindText[16];
  snprintf(familyText, sizeof familyText, "%d", family);
  snprintf(kindText, sizeof kindText, "%d", kind);
  snprintf(text, sizeof text, "socket(%s, %s)", familyName != nullptr ? familyName : familyText,
           kindName != nullptr ? kindName : kindText);
  tell(text);
  errno = error;
  return result;
}

extern "C" int boardConnect(int socket, const struct sockaddr* address, socklen_t size) {
  return addressCall("connect", real<int (*)(int, const sockaddr*, socklen_t)>("connect")(socket, address, size),
                     socket, address, size);
}

extern "C" int boardBind(int socket, const struct sockaddr* address, socklen_t size) {
  return addressCall("bind", real<int (*)(int, const sockaddr*, socklen_t)>("bind")(socket, address, size), socket,
                     address, size);
}

extern "C" int boardKill(pid_t pid, int signal) {
  const int result = (int)syscall(SYS_kill, pid, signal);
  if (result == 0 || !refused(errno)) return result;
  const int error = errno;
  char text[64];
  snprintf(text, sizeof text, "kill(%d, %d)", (int)pid, signal);
  tell(text);
  errno = error;
  return result;
}
