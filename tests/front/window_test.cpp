#include "front/window.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "xserver.h"

// The GL stack that the window system loads keeps memory in libraries that are
// unloaded again before a sanitizer's leak check, which then cannot tell whose
// it was. Leaks are not checked here; memory errors still are.
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }

namespace tapsim {
namespace {

constexpr int32_t kWidth = 720;
constexpr int32_t kHeight = 576;

class WindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    server_ = XServer::start(error);
    if (server_) {
      setenv("DISPLAY", server_->display().c_str(), 1);
    } else {
      startError_ = error;
    }
    setenv("SDL_VIDEODRIVER", "x11", 1);
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    // Only without Xvfb and without any display is there nothing to test on.
    if (!server_ && std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << startError_;
    std::string error;
    window_ = Window::open("front test", error);
    ASSERT_TRUE(window_) << error;
  }

  static void pushKey(SDL_Keycode key) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
    ASSERT_EQ(SDL_PushEvent(&event), 1) << SDL_GetError();
  }

  std::vector<RemotePress> pressesAfter(SDL_Keycode key) {
    window_->poll(0);  // whatever the window system said first
    pushKey(key);
    return window_->poll(100);
  }

  static inline std::unique_ptr<XServer> server_;
  static inline std::string startError_;
  std::unique_ptr<Window> window_;
};

std::vector<uint32_t> testFrame() {
  std::vector<uint32_t> frame(size_t(kWidth) * kHeight);
  uint32_t state = 12345;
  for (size_t i = 0; i < frame.size(); ++i) {
    state = state * 1664525u + 1013904223u;
    // Hard edges and noise alike; alpha anything, since it must be ignored.
    frame[i] = (i / kWidth) % 64 < 32 ? state : (i % kWidth < 360 ? 0x00FF0000u : 0x8000FF00u);
  }
  return frame;
}

uint32_t pixelAt(const Image& image, int32_t x, int32_t y) { return image.argb[size_t(y) * size_t(image.width) + size_t(x)]; }

TEST_F(WindowTest, ShownFrameReadsBackPixelForPixel) {
  const auto frame = testFrame();
  ASSERT_TRUE(window_->present(frame));
  window_->poll(50);
  const Image shown = window_->capture();
  ASSERT_EQ(shown.width, kWidth);
  ASSERT_EQ(shown.height, kHeight);
  size_t different = 0;
  for (size_t i = 0; i < frame.size(); ++i) different += shown.argb[i] != (frame[i] | 0xFF000000u);
  EXPECT_EQ(different, 0u);
}

TEST_F(WindowTest, LaterFrameReplacesTheEarlierOne) {
  ASSERT_TRUE(window_->present(testFrame()));
  const std::vector<uint32_t> grey(size_t(kWidth) * kHeight, 0xFF808080u);
  ASSERT_TRUE(window_->present(grey));
  EXPECT_EQ(window_->capture().argb, grey);
}

SDL_Window* findWindow(std::string_view title) {
  for (Uint32 id = 1; id < 100; ++id) {
    SDL_Window* window = SDL_GetWindowFromID(id);
    if (window != nullptr && SDL_GetWindowTitle(window) == title) return window;
  }
  return nullptr;
}

TEST_F(WindowTest, PictureKeepsItsShapeInAWindowOfAnotherShape) {
  std::vector<uint32_t> quadrants(size_t(kWidth) * kHeight);
  const uint32_t colours[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      quadrants[size_t(y) * kWidth + size_t(x)] = colours[(y < kHeight / 2 ? 0 : 2) + (x < kWidth / 2 ? 0 : 1)];
    }
  }
  SDL_Window* window = findWindow("front test");
  ASSERT_NE(window, nullptr);
  SDL_SetWindowSize(window, 1000, 400);
  ASSERT_TRUE(window_->present(quadrants));
  Image shown;
  for (int attempt = 0; attempt < 20 && shown.width != 500; ++attempt) {
    window_->poll(50);
    shown = window_->capture();
  }
  ASSERT_EQ(shown.width, 500);
  ASSERT_EQ(shown.height, 400);
  EXPECT_EQ(pixelAt(shown, 125, 100), colours[0]);
  EXPECT_EQ(pixelAt(shown, 375, 100), colours[1]);
  EXPECT_EQ(pixelAt(shown, 125, 300), colours[2]);
  EXPECT_EQ(pixelAt(shown, 375, 300), colours[3]);
}

TEST_F(WindowTest, TitleIsWhatTheCallerSays) {
  window_->setTitle("page 3 - model 22120 - remote 2");
  EXPECT_NE(findWindow("page 3 - model 22120 - remote 2"), nullptr);
  EXPECT_EQ(findWindow("front test"), nullptr);
}

TEST_F(WindowTest, FrameOfAnotherSizeIsRefused) {
  EXPECT_FALSE(window_->present(std::vector<uint32_t>(100, 0)));
}

TEST_F(WindowTest, EveryKeyBindingSendsItsPress) {
  for (const KeyBinding& binding : keyBindings()) {
    const SDL_Keycode key = SDL_GetKeyFromName(std::string(binding.key).c_str());
    ASSERT_NE(key, SDLK_UNKNOWN) << binding.key;
    EXPECT_EQ(pressesAfter(key), std::vector<RemotePress>{binding.press}) << binding.key;
  }
}

TEST_F(WindowTest, PagingAndQuitKeysMeanWhatTheHelpSays) {
  using Kind = RemotePress::Kind;
  const std::pair<SDL_Keycode, Kind> expected[] = {
      {SDLK_RIGHT, Kind::Next},        {SDLK_DOWN, Kind::Next},   {SDLK_PAGEDOWN, Kind::Next},
      {SDLK_LEFT, Kind::Previous},     {SDLK_UP, Kind::Previous}, {SDLK_PAGEUP, Kind::Previous},
      {SDLK_ESCAPE, Kind::Quit},
  };
  for (const auto& [key, kind] : expected) {
    EXPECT_EQ(pressesAfter(key), std::vector<RemotePress>{{kind}}) << SDL_GetKeyName(key);
  }
  EXPECT_FALSE(window_->closed()) << "Escape asks to quit; the window stays until its owner closes it";
}

TEST_F(WindowTest, KeypadDigitsActAsDigits) {
  EXPECT_EQ(pressesAfter(SDLK_KP_0), pressesAfter(SDLK_0));
  EXPECT_EQ(pressesAfter(SDLK_KP_7), pressesAfter(SDLK_7));
  EXPECT_FALSE(pressesAfter(SDLK_KP_7).empty());
}

TEST_F(WindowTest, UnboundKeyGivesNoPress) { EXPECT_TRUE(pressesAfter(SDLK_F12).empty()); }

TEST_F(WindowTest, ClosingTheWindowQuitsOnce) {
  window_->poll(0);
  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  SDL_PushEvent(&close);
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  EXPECT_EQ(window_->poll(100), std::vector<RemotePress>{{RemotePress::Kind::Quit}});
  EXPECT_TRUE(window_->closed());
}

TEST_F(WindowTest, SecondWindowIsRefusedWhileOneIsOpen) {
  std::string error;
  EXPECT_FALSE(Window::open("second", error));
  EXPECT_NE(error.find("already open"), std::string::npos) << error;
  window_.reset();
  auto again = Window::open("again", error);
  EXPECT_TRUE(again) << error;
}

}  // namespace
}  // namespace tapsim
