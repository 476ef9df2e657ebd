#pragma once
// A person's keyboard on the test's X server: real key events (XTest) to the
// window whose title starts with a given text.
#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace tapsim {

class XKeyboard {
 public:
  // Null, with a reason, when the display cannot be opened or has no XTest.
  static std::unique_ptr<XKeyboard> open(const std::string& display, std::string& error);
  ~XKeyboard();
  XKeyboard(const XKeyboard&) = delete;
  XKeyboard& operator=(const XKeyboard&) = delete;

  // Waits until such a window is shown, then gives it the keyboard focus.
  bool focusWindow(std::string_view titlePrefix, std::chrono::milliseconds limit);
  // Presses and releases the key of that name ("Right", "Escape", "6").
  bool press(const std::string& keyName);

 private:
  struct Connection;
  explicit XKeyboard(std::unique_ptr<Connection> connection);
  std::unique_ptr<Connection> x_;
};

}  // namespace tapsim
