#include <stddef.h>

#include "taplib.h"

extern "C" {
int open(const char* path, int flags, ...);
ptrdiff_t write(int fd, const void* data, size_t size);
int close(int fd);
size_t strlen(const char* text);
}

enum : int32_t { TERMINAL_COUNT = 20, OPEN_READ_WRITE = 2 };

extern "C" void PrintNet(const char* text) {
  if (text == nullptr) return;
  char device[16];
  for (int32_t n = 0; n < TERMINAL_COUNT; ++n) {
    TAP_SPrint(device, "/dev/pts/%d", n);
    const int terminal = open(device, OPEN_READ_WRITE);
    if (terminal < 0) continue;
    write(terminal, text, strlen(text) + 1);
    close(terminal);
    return;
  }
}
