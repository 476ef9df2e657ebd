/* Link-time stand-in for the receiver's libc.so.0: the calls a module may
   make, so that linking with -z defs rejects any other. Never loaded. */
#include <stddef.h>

int open(const char* path, int flags, ...) { (void)path; (void)flags; return -1; }
long write(int fd, const void* data, size_t size) { (void)fd; (void)data; (void)size; return -1; }
int close(int fd) { (void)fd; return -1; }
size_t strlen(const char* text) { (void)text; return 0; }
char* strcpy(char* dest, const char* src) { (void)src; return dest; }
void* memset(void* dest, int value, size_t size) { (void)value; (void)size; return dest; }
