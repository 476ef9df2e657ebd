// tapsim-window.so: the window front end, which brings SDL2 and the libraries
// it needs. tapsim loads it only when it opens a window.
#include "front/window.h"

extern "C" __attribute__((visibility("default"))) tapsim::Window* tapsim_open_window(const char* title,
                                                                                     std::string* error) {
  return tapsim::Window::open(title, *error).release();
}
