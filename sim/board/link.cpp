#include "link.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

WireShared* boardWire = nullptr;
int boardIsForkedChild = 0;

long rawWrite(int fd, const void* data, size_t size) { return syscall(SYS_write, fd, data, size); }
long rawRead(int fd, void* data, size_t size) { return syscall(SYS_read, fd, data, size); }
int rawOpen(const char* path, int flags, int mode) {
  return (int)syscall(SYS_openat, AT_FDCWD, path, flags, mode);
}
int rawClose(int fd) { return (int)syscall(SYS_close, fd); }

void boardEnd(int code) {
  for (;;) syscall(SYS_exit_group, code);
}

void boardRing(void) {
  const char bell = 1;
  while (rawWrite(WIRE_CALL_BELL_FD, &bell, 1) < 0 && errno == EINTR) {
  }
}

namespace {

uint32_t ringFree(uint32_t tail) {
  const uint32_t head = __atomic_load_n(&boardWire->callHead, __ATOMIC_ACQUIRE);
  return WIRE_CALL_RING_BYTES - (tail - head);
}

// Blocks until the host has answered or drained; a host that went away ends the board.
void awaitBell(void) {
  char bell = 0;
  for (;;) {
    const long got = rawRead(WIRE_ANSWER_BELL_FD, &bell, 1);
    if (got == 1) return;
    if (got < 0 && errno == EINTR) continue;
    boardEnd(WIRE_BOARD_LOST_HOST);
  }
}

void awaitRoom(uint32_t tail, uint32_t needed) {
  while (ringFree(tail) < needed) {
    __atomic_store_n(&boardWire->roomWanted, 1u, __ATOMIC_SEQ_CST);
    boardRing();
    awaitBell();
  }
}

uint8_t* at(uint32_t offset) { return boardWire->calls + offset % WIRE_CALL_RING_BYTES; }

}  // namespace

void boardPost(uint32_t call, const uint32_t* args, uint32_t count, const void* payload, uint32_t size) {
  if (boardIsForkedChild || boardWire == nullptr) return;
  if (size > WIRE_MAX_PAYLOAD) size = WIRE_MAX_PAYLOAD;
  const uint32_t length = (uint32_t)sizeof(WireMessage) + ((size + 3u) & ~3u);
  uint32_t tail = boardWire->callTail;
  const uint32_t toEnd = WIRE_CALL_RING_BYTES - tail % WIRE_CALL_RING_BYTES;
  // A message never wraps: the rest of the ring is skipped, marked when a head fits.
  const uint32_t skip = toEnd < length ? toEnd : 0;
  awaitRoom(tail, skip + length);
  if (skip != 0) {
    if (skip >= sizeof(WireMessage)) {
      WireMessage pad;
      memset(&pad, 0, sizeof pad);
      memcpy(at(tail), &pad, sizeof pad);
    }
    tail += skip;
  }
  WireMessage message;
  memset(&message, 0, sizeof message);
  message.call = call;
  message.size = size;
  if (count > WIRE_ARGS) count = WIRE_ARGS;
  for (uint32_t i = 0; i < count; ++i) message.arg[i] = args[i];
  memcpy(at(tail), &message, sizeof message);
  if (size != 0) memcpy(at(tail) + sizeof message, payload, size);
  __atomic_store_n(&boardWire->callTail, tail + length, __ATOMIC_RELEASE);
}

const uint32_t* boardAsk(uint32_t call, const uint32_t* args, uint32_t count, const void* payload,
                         uint32_t size) {
  // What a forked child hears back: nothing opens, nothing is granted.
  static const uint32_t nothing[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  if (boardIsForkedChild || boardWire == nullptr) return nothing;
  boardPost(call, args, count, payload, size);
  boardRing();
  awaitBell();
  return boardWire->answer;
}
