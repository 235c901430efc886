// The SDL host's pictures: each top-level window's client surface shown through its own SDL
// renderer and streaming texture; a present uploads only the dirty rectangle, an expose shows
// the whole texture again.
#include <SDL.h>

#include <map>

#include "platform/host.h"

namespace orvane::host {
namespace {

// The renderer and texture of one SDL window.
struct Screen {
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int width = 0;
  int height = 0;
};
std::map<SDL_Window*, Screen> g_screens;

void Drop(Screen& s) {
  if (s.texture) SDL_DestroyTexture(s.texture);
  if (s.renderer) SDL_DestroyRenderer(s.renderer);
  s = Screen{};
}

// The window's screen with a texture of w x h, made on first use (a software renderer: its
// pictures read back exactly). Null when SDL refuses; *fresh tells that the texture is new.
Screen* Ready(SDL_Window* window, int w, int h, bool* fresh) {
  Screen& s = g_screens[window];
  *fresh = false;
  if (!s.renderer) {
    s.renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    if (!s.renderer) s.renderer = SDL_CreateRenderer(window, -1, 0);
    if (!s.renderer) {
      g_screens.erase(window);
      return nullptr;
    }
  }
  if (!s.texture || s.width != w || s.height != h) {
    if (s.texture) SDL_DestroyTexture(s.texture);
    s.texture = SDL_CreateTexture(s.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h);
    s.width = w;
    s.height = h;
    *fresh = true;
    if (!s.texture) return nullptr;
  }
  return &s;
}

void Show(const Screen& s) {
  SDL_RenderClear(s.renderer);
  SDL_RenderCopy(s.renderer, s.texture, nullptr, nullptr);
  SDL_RenderPresent(s.renderer);
}

}  // namespace

void SdlPresentSurface(HWND hwnd, const std::uint32_t* pixels, int w, int h, int pitch, const RECT& dirty) {
  auto* window = static_cast<SDL_Window*>(SdlNativeWindow(hwnd));
  if (!window || w <= 0 || h <= 0) return;
  bool fresh;
  Screen* s = Ready(window, w, h, &fresh);
  if (!s) return;
  // A new texture needs every pixel; otherwise only what changed.
  SDL_Rect r{0, 0, w, h};
  if (!fresh) r = {dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top};
  if (r.w > 0 && r.h > 0) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(pixels) +
                        static_cast<std::ptrdiff_t>(r.y) * pitch + static_cast<std::ptrdiff_t>(r.x) * 4;
    SDL_UpdateTexture(s->texture, &r, first, pitch);
  }
  Show(*s);
}

void SdlPresentExpose(HWND hwnd) {
  auto it = g_screens.find(static_cast<SDL_Window*>(SdlNativeWindow(hwnd)));
  if (it != g_screens.end() && it->second.texture) Show(it->second);
}

void SdlPresentForget(HWND hwnd) {
  auto it = g_screens.find(static_cast<SDL_Window*>(SdlNativeWindow(hwnd)));
  if (it == g_screens.end()) return;
  Drop(it->second);
  g_screens.erase(it);
}

}  // namespace orvane::host
