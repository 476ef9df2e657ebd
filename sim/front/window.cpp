#include "window.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <utility>

namespace tapsim {
namespace {

using Kind = RemotePress::Kind;

constexpr uint32_t kBorderColour = 0xFF000000;

bool windowOpen = false;

// SDL keeps global state: one session, and with it one window, at a time.
class SdlSession {
 public:
  SdlSession() : started_(!windowOpen && SDL_Init(SDL_INIT_VIDEO) == 0) { windowOpen = windowOpen || started_; }
  ~SdlSession() {
    if (!started_) return;
    SDL_Quit();
    windowOpen = false;
  }
  SdlSession(const SdlSession&) = delete;
  SdlSession& operator=(const SdlSession&) = delete;
  bool started() const { return started_; }

 private:
  bool started_;
};

struct WindowDestroyer {
  void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
};
struct RendererDestroyer {
  void operator()(SDL_Renderer* renderer) const { SDL_DestroyRenderer(renderer); }
};
struct TextureDestroyer {
  void operator()(SDL_Texture* texture) const { SDL_DestroyTexture(texture); }
};

SDL_Keycode withoutKeypad(SDL_Keycode key) {
  if (key == SDLK_KP_0) return SDLK_0;
  if (key >= SDLK_KP_1 && key <= SDLK_KP_9) return SDLK_1 + (key - SDLK_KP_1);
  return key;
}

// The largest rectangle of the frame's shape that fits the output, centred.
SDL_Rect fitPicture(int32_t outputWidth, int32_t outputHeight, int32_t frameWidth, int32_t frameHeight) {
  int64_t width = outputWidth;
  int64_t height = int64_t{outputWidth} * frameHeight / frameWidth;
  if (height > outputHeight) {
    height = outputHeight;
    width = int64_t{outputHeight} * frameWidth / frameHeight;
  }
  return {static_cast<int>((outputWidth - width) / 2), static_cast<int>((outputHeight - height) / 2),
          static_cast<int>(width), static_cast<int>(height)};
}

struct Sdl {
  SdlSession session;  // first in, last out
  std::unique_ptr<SDL_Window, WindowDestroyer> window;
  std::unique_ptr<SDL_Renderer, RendererDestroyer> renderer;
  std::unique_ptr<SDL_Texture, TextureDestroyer> texture;
  std::vector<std::pair<SDL_Keycode, RemotePress>> keys;
  int32_t frameWidth = 0;
  int32_t frameHeight = 0;
  bool hasFrame = false;
  bool closed = false;

  SDL_Rect pictureRect() const {
    int outputWidth = 0, outputHeight = 0;
    SDL_GetRendererOutputSize(renderer.get(), &outputWidth, &outputHeight);
    return fitPicture(outputWidth, outputHeight, frameWidth, frameHeight);
  }

  void draw() const {
    SDL_SetRenderDrawColor(renderer.get(), kBorderColour >> 16 & 0xFF, kBorderColour >> 8 & 0xFF,
                           kBorderColour & 0xFF, 0xFF);
    SDL_RenderClear(renderer.get());
    const SDL_Rect picture = pictureRect();
    if (hasFrame) SDL_RenderCopy(renderer.get(), texture.get(), nullptr, &picture);
  }

  void show() const {
    draw();
    SDL_RenderPresent(renderer.get());
  }

  void pressKey(SDL_Keycode key, std::vector<RemotePress>& presses) const {
    const SDL_Keycode wanted = withoutKeypad(key);
    const auto found = std::find_if(keys.begin(), keys.end(), [&](const auto& entry) { return entry.first == wanted; });
    if (found != keys.end()) presses.push_back(found->second);
  }

  void close(std::vector<RemotePress>& presses) {
    if (!closed) presses.push_back({Kind::Quit});
    closed = true;
  }

  void handle(const SDL_Event& event, std::vector<RemotePress>& presses) {
    switch (event.type) {
      case SDL_QUIT:
        close(presses);
        break;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
          close(presses);
        } else if (event.window.event == SDL_WINDOWEVENT_EXPOSED ||
                   event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
          show();
        }
        break;
      case SDL_KEYDOWN:
        pressKey(event.key.keysym.sym, presses);
        break;
      default:
        break;
    }
  }
};

class SdlWindow final : public Window {
 public:
  explicit SdlWindow(std::unique_ptr<Sdl> sdl) : sdl_(std::move(sdl)) {}
  bool present(std::span<const uint32_t> argb) override;
  void setTitle(std::string_view title) override;
  std::vector<RemotePress> poll(int32_t timeoutMs) override;
  bool closed() const override;
  Image capture() override;

 private:
  std::unique_ptr<Sdl> sdl_;
};

}  // namespace

std::unique_ptr<Window> Window::open(std::string_view title, std::string& error, int32_t frameWidth,
                                     int32_t frameHeight) {
  if (frameWidth <= 0 || frameHeight <= 0) {
    error = "cannot open a window for a frame of " + std::to_string(frameWidth) + "x" + std::to_string(frameHeight);
    return nullptr;
  }
  auto sdl = std::make_unique<Sdl>();
  if (!sdl->session.started()) {
    error = windowOpen ? "cannot open a window: one is already open"
                       : std::string("cannot open a window: ") + SDL_GetError();
    return nullptr;
  }
  const std::string titleText(title);
  // Hidden until it can take keys: a renderer may replace the window it is made for, and
  // keys pressed in a window that is then destroyed would be lost.
  sdl->window.reset(SDL_CreateWindow(titleText.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, frameWidth,
                                     frameHeight, SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN));
  if (sdl->window) sdl->renderer.reset(SDL_CreateRenderer(sdl->window.get(), -1, 0));
  if (sdl->window && !sdl->renderer) {
    sdl->renderer.reset(SDL_CreateRenderer(sdl->window.get(), -1, SDL_RENDERER_SOFTWARE));
  }
  if (sdl->renderer) {
    sdl->texture.reset(SDL_CreateTexture(sdl->renderer.get(), SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                         frameWidth, frameHeight));
  }
  if (!sdl->texture) {
    error = std::string("cannot open a window: ") + SDL_GetError();
    return nullptr;
  }
  SDL_SetTextureBlendMode(sdl->texture.get(), SDL_BLENDMODE_NONE);
  SDL_SetTextureScaleMode(sdl->texture.get(), SDL_ScaleModeLinear);
  for (const KeyBinding& binding : keyBindings()) {
    const std::string name(binding.key);
    sdl->keys.emplace_back(SDL_GetKeyFromName(name.c_str()), binding.press);
  }
  sdl->frameWidth = frameWidth;
  sdl->frameHeight = frameHeight;
  SDL_ShowWindow(sdl->window.get());
  sdl->show();
  return std::make_unique<SdlWindow>(std::move(sdl));
}

bool SdlWindow::present(std::span<const uint32_t> argb) {
  if (argb.size() != size_t(sdl_->frameWidth) * size_t(sdl_->frameHeight)) return false;
  SDL_UpdateTexture(sdl_->texture.get(), nullptr, argb.data(), sdl_->frameWidth * 4);
  sdl_->hasFrame = true;
  sdl_->show();
  return true;
}

void SdlWindow::setTitle(std::string_view title) { SDL_SetWindowTitle(sdl_->window.get(), std::string(title).c_str()); }

std::vector<RemotePress> SdlWindow::poll(int32_t timeoutMs) {
  std::vector<RemotePress> presses;
  SDL_Event event;
  bool pending = timeoutMs > 0 ? SDL_WaitEventTimeout(&event, timeoutMs) != 0 : SDL_PollEvent(&event) != 0;
  while (pending) {
    sdl_->handle(event, presses);
    pending = SDL_PollEvent(&event) != 0;
  }
  return presses;
}

bool SdlWindow::closed() const { return sdl_->closed; }

Image SdlWindow::capture() {
  const SDL_Rect picture = sdl_->pictureRect();
  Image image{picture.w, picture.h, {}};
  image.argb.resize(size_t(std::max(picture.w, 0)) * size_t(std::max(picture.h, 0)));
  sdl_->draw();
  // Read before presenting: a double-buffered renderer's back buffer is undefined afterwards.
  if (image.argb.empty() || SDL_RenderReadPixels(sdl_->renderer.get(), &picture, SDL_PIXELFORMAT_ARGB8888,
                                                 image.argb.data(), picture.w * 4) != 0) {
    image = {};
  }
  SDL_RenderPresent(sdl_->renderer.get());
  for (uint32_t& pixel : image.argb) pixel |= 0xFF000000u;
  return image;
}

}  // namespace tapsim
