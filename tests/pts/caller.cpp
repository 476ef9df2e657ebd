#include <fcntl.h>
#include <unistd.h>

extern "C" {

int callerOpen(const char* path, int flags) { return open(path, flags); }
int callerOpenCreating(const char* path, int flags, int mode) { return open(path, flags, mode); }
int callerOpen64(const char* path, int flags) { return open64(path, flags); }
ssize_t callerWrite(int descriptor, const void* data, size_t size) { return write(descriptor, data, size); }
int callerClose(int descriptor) { return close(descriptor); }

}  // extern "C"
