// The board's side of the wire: posting calls, asking and waiting, and the
// raw system calls the board uses for itself (its own open/write/close are
// the module's virtual terminals).
#pragma once
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "wire.h"

extern WireShared* boardWire;
// Set in a child the module forked: that process is not the board, and its
// platform calls reach nobody.
extern int boardIsForkedChild;

// Posts a call; its answer, if any, is not awaited.
void boardPost(uint32_t call, const uint32_t* args, uint32_t count, const void* payload, uint32_t size);
// Posts a call, wakes the host and waits for its answer (in boardWire->answer).
const uint32_t* boardAsk(uint32_t call, const uint32_t* args, uint32_t count, const void* payload,
                         uint32_t size);
// Wakes the host now, without waiting.
void boardRing(void);

[[noreturn]] void boardEnd(int code);

// Tells the host of a C library call the sandbox refused: "fork()".
void boardTellRefused(const char* call);
// open(2), told to the host under the call's name when the sandbox refuses it.
int boardOpenTold(const char* call, const char* path, int flags, int mode);
// The mode argument of an open call, which only a file being made carries.
int boardOpenMode(int flags, va_list arguments);

long rawWrite(int fd, const void* data, size_t size);
long rawRead(int fd, void* data, size_t size);
int rawOpen(const char* path, int flags, int mode);
int rawClose(int fd);

static inline uint32_t lowWord(const void* pointer) { return (uint32_t)(uintptr_t)pointer; }
static inline uint32_t highWord(const void* pointer) {
  return (uint32_t)((uint64_t)(uintptr_t)pointer >> 32);
}
