// The SDL host's pictures: each top-level window's client surface shown through its own SDL
// renderer and streaming texture; presents upload only the dirty rectangle, an expose shows the
// whole picture again.
#include <SDL.h>

#include <cstddef>
#include <map>

#include "platform/host_sdl_internal.h"

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

void Drop(SDL_Window* window) {
  auto it = g_screens.find(window);
  if (it == g_screens.end()) return;
  if (it->second.texture) SDL_DestroyTexture(it->second.texture);
  if (it->second.renderer) SDL_DestroyRenderer(it->second.renderer);
  g_screens.erase(it);
}

// The renderer of the window, made on first present (software: its pictures read back exactly),
// and a texture of the surface's size.
Screen* Ready(SDL_Window* window, int w, int h) {
  Screen& s = g_screens[window];
  if (!s.renderer) {
    s.renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    if (!s.renderer) s.renderer = SDL_CreateRenderer(window, -1, 0);
    if (!s.renderer) {
      g_screens.erase(window);
      return nullptr;
    }
    SdlApplyLogicalSize(window, s.renderer);
  }
  if (!s.texture || s.width != w || s.height != h) {
    if (s.texture) SDL_DestroyTexture(s.texture);
    s.texture = SDL_CreateTexture(s.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h);
    s.width = w;
    s.height = h;
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
  SDL_Window* window = SdlWindowOf(hwnd);
  if (!window || w <= 0 || h <= 0) return;
  auto it = g_screens.find(window);
  bool fresh = it == g_screens.end() || !it->second.texture || it->second.width != w || it->second.height != h;
  Screen* s = Ready(window, w, h);
  if (!s) return;
  SDL_Rect r{0, 0, w, h};
  if (!fresh) r = {dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top};
  if (r.w > 0 && r.h > 0) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(pixels) + static_cast<std::ptrdiff_t>(r.y) * pitch +
                        static_cast<std::ptrdiff_t>(r.x) * 4;
    SDL_UpdateTexture(s->texture, &r, first, pitch);
  }
  Show(*s);
}

void SdlPresentExpose(HWND hwnd) {
  SDL_Window* window = SdlWindowOf(hwnd);
  auto it = g_screens.find(window);
  if (it != g_screens.end() && it->second.texture) Show(it->second);
}

void SdlPresentForget(HWND hwnd) {
  if (SDL_Window* window = SdlWindowOf(hwnd)) Drop(window);
}

}  // namespace orvane::host
