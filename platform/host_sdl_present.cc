// The SDL host's pictures: each top-level window's client surface shown through an SDL renderer
// and a streaming texture; presents upload only the dirty rectangle, an expose shows it all again.
#include <SDL.h>

#include "platform/host.h"

namespace orvane::host {
namespace {

// The renderer and texture of the one SDL window.
struct Screen {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int width = 0;
  int height = 0;
};
Screen g_screen;

void Drop() {
  if (g_screen.texture) SDL_DestroyTexture(g_screen.texture);
  if (g_screen.renderer) SDL_DestroyRenderer(g_screen.renderer);
  g_screen = Screen{};
}

// The renderer of the window, made on first present (software: its pictures read back exactly).
bool Ready(SDL_Window* window, int w, int h) {
  if (g_screen.window != window) {
    Drop();
    g_screen.window = window;
    g_screen.renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    if (!g_screen.renderer) g_screen.renderer = SDL_CreateRenderer(window, -1, 0);
    if (!g_screen.renderer) {
      g_screen.window = nullptr;
      return false;
    }
  }
  if (!g_screen.texture || g_screen.width != w || g_screen.height != h) {
    if (g_screen.texture) SDL_DestroyTexture(g_screen.texture);
    g_screen.texture =
        SDL_CreateTexture(g_screen.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h);
    g_screen.width = w;
    g_screen.height = h;
    if (!g_screen.texture) return false;
    return true;
  }
  return true;
}

void Show() {
  SDL_RenderClear(g_screen.renderer);
  SDL_RenderCopy(g_screen.renderer, g_screen.texture, nullptr, nullptr);
  SDL_RenderPresent(g_screen.renderer);
}

}  // namespace

void SdlPresentSurface(HWND hwnd, const std::uint32_t* pixels, int w, int h, int pitch, const RECT& dirty) {
  auto* window = static_cast<SDL_Window*>(SdlNativeWindow(hwnd));
  if (!window || w <= 0 || h <= 0) return;
  bool fresh = !g_screen.texture || g_screen.window != window || g_screen.width != w || g_screen.height != h;
  if (!Ready(window, w, h)) return;
  SDL_Rect r{0, 0, w, h};
  if (!fresh) r = {dirty.left, dirty.top, dirty.right - dirty.left, dirty.bottom - dirty.top};
  if (r.w > 0 && r.h > 0) {
    const auto* first = reinterpret_cast<const std::uint8_t*>(pixels) +
                        static_cast<std::ptrdiff_t>(r.y) * pitch + static_cast<std::ptrdiff_t>(r.x) * 4;
    SDL_UpdateTexture(g_screen.texture, &r, first, pitch);
  }
  Show();
}

void SdlPresentExpose(HWND hwnd) {
  if (g_screen.texture && g_screen.window == SdlNativeWindow(hwnd)) Show();
}

void SdlPresentForget(HWND hwnd) {
  if (g_screen.window && g_screen.window == SdlNativeWindow(hwnd)) Drop();
}

}  // namespace orvane::host
