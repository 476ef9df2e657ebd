#include "xkeyboard.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <thread>
#include <vector>

namespace tapsim {
namespace {

// A window that goes away while it is looked at is no error of the test's.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

std::string titleOf(Display* display, ::Window window) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) == 0 || name == nullptr) return {};
  std::string title(name);
  XFree(name);
  return title;
}

bool shown(Display* display, ::Window window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display, window, &attributes) != 0 && attributes.map_state == IsViewable;
}

::Window findShown(Display* display, ::Window under, std::string_view titlePrefix) {
  if (titleOf(display, under).starts_with(titlePrefix) && shown(display, under)) return under;
  ::Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, under, &root, &parent, &children, &count) == 0) return 0;
  const std::vector<::Window> below(children, children + count);
  if (children != nullptr) XFree(children);
  for (const ::Window child : below)
    if (const ::Window found = findShown(display, child, titlePrefix)) return found;
  return 0;
}

}  // namespace

struct XKeyboard::Connection {
  Display* display = nullptr;
  ~Connection() {
    if (display != nullptr) XCloseDisplay(display);
  }
};

std::unique_ptr<XKeyboard> XKeyboard::open(const std::string& display, std::string& error) {
  auto connection = std::make_unique<Connection>();
  connection->display = XOpenDisplay(display.c_str());
  if (connection->display == nullptr) {
    error = "cannot open display " + display;
    return nullptr;
  }
  int event = 0, errorBase = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(connection->display, &event, &errorBase, &major, &minor)) {
    error = "display " + display + " has no XTest extension";
    return nullptr;
  }
  XSetErrorHandler(ignoreErrors);
  return std::unique_ptr<XKeyboard>(new XKeyboard(std::move(connection)));
}

XKeyboard::XKeyboard(std::unique_ptr<Connection> connection) : x_(std::move(connection)) {}
XKeyboard::~XKeyboard() = default;

bool XKeyboard::focusWindow(std::string_view titlePrefix, std::chrono::milliseconds limit) {
  Display* display = x_->display;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (const ::Window window = findShown(display, DefaultRootWindow(display), titlePrefix)) {
      XSetInputFocus(display, window, RevertToParent, CurrentTime);
      XSync(display, False);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool XKeyboard::press(const std::string& keyName) {
  Display* display = x_->display;
  const KeySym symbol = XStringToKeysym(keyName.c_str());
  const KeyCode code = symbol != NoSymbol ? XKeysymToKeycode(display, symbol) : 0;
  if (code == 0) return false;
  const bool sent = XTestFakeKeyEvent(display, code, True, CurrentTime) && XTestFakeKeyEvent(display, code, False, CurrentTime);
  XSync(display, False);
  return sent;
}

}  // namespace tapsim
