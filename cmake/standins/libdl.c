/* Link-time stand-in for the receiver's libdl.so.0. Never loaded. */
#include <stddef.h>

void* dlopen(const char* file, int mode) { (void)file; (void)mode; return NULL; }
void* dlsym(void* handle, const char* name) { (void)handle; (void)name; return NULL; }
char* dlerror(void) { return NULL; }
int dlclose(void* handle) { (void)handle; return -1; }
