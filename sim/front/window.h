#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image.h"
#include "platform/remote.h"

namespace tapsim {

struct KeyBinding {
  std::string_view key;  // the key's name as the window knows it, e.g. "PageDown"
  RemotePress press;
  std::string_view meaning;  // for a help text
};

// Every key the window turns into a press; keypad digits act as the digits.
std::span<const KeyBinding> keyBindings();

// A desktop window showing the screen, scaled to the window with its aspect
// kept. One window at a time. An interface without data, so that tapsim
// reaches the SDL window through the part it loads (tapsim-window.so)
// without linking SDL, and every user has its type information.
class Window {
 public:
  // Null, with error set to one line, when no window can be had (no display, say).
  static std::unique_ptr<Window> open(std::string_view title, std::string& error, int32_t frameWidth = 720,
                                      int32_t frameHeight = 576);
  Window() = default;
  virtual ~Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Shows a frame of frameWidth x frameHeight ARGB words (alpha ignored); false for any other size.
  virtual bool present(std::span<const uint32_t> argb) = 0;
  virtual void setTitle(std::string_view title) = 0;

  // Waits up to timeoutMs for input (0: not at all) and returns the presses
  // seen, in order. Closing the window gives one Quit press and makes closed() true.
  virtual std::vector<RemotePress> poll(int32_t timeoutMs) = 0;
  virtual bool closed() const = 0;

  // What the window shows of the frame: the picture area, at window resolution, alpha 0xFF.
  virtual Image capture() = 0;
};

// The window part's one entry, by this name: Window::open of a 720x576 frame,
// the window released to the caller (null, with error set, when none can be had).
inline constexpr const char* kOpenWindowEntry = "tapsim_open_window";
using OpenWindowEntry = Window* (*)(const char* title, std::string* error);

}  // namespace tapsim
