// The few C library calls the test modules make, declared as a module does.
#pragma once
#include <stdint.h>

extern "C" {
int fork(void);
int setsid(void);
int getpid(void);
void exit(int code);
void _exit(int code);
int pause(void);
int open(const char* path, int flags, ...);
long write(int fd, const void* data, unsigned long size);
int close(int fd);
char* getenv(const char* name);
int sigprocmask(int how, const void* set, void* old);
int mprotect(void* address, unsigned long size, int protection);
void* mmap(void* address, unsigned long size, int protection, int flags, int fd, long offset);
int ftruncate(int fd, long size);
}
