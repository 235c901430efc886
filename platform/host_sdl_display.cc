// The SDL host's display hooks: the desktop depth and full screen as a desktop-sized window whose
// renderer scales the client surface from the chosen mode's size.
#include <SDL.h>

#include <map>
#include <string>

#include "platform/host_sdl_internal.h"

namespace orvane::host {
namespace {

// The mode size of each window in full screen.
std::map<SDL_Window*, std::pair<int, int>> g_logical;

}  // namespace

void SdlApplyLogicalSize(SDL_Window* window, SDL_Renderer* renderer) {
  auto it = g_logical.find(window);
  if (it != g_logical.end()) SDL_RenderSetLogicalSize(renderer, it->second.first, it->second.second);
}

int SdlDesktopDepth() {
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) return 32;
  int bits = SDL_BITSPERPIXEL(mode.format);
  return bits <= 16 && bits > 8 ? 16 : bits <= 8 ? 8 : 32;
}

void SdlSetFullscreen(HWND hwnd, bool on, int w, int h) {
  SDL_Window* window = SdlWindowOf(hwnd);
  RecordTrace(std::string("fullscreen ") + (on ? "1 " : "0 ") + std::to_string(w) + "x" + std::to_string(h));
  if (!window) return;
  SDL_SetWindowFullscreen(window, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  if (on)
    g_logical[window] = {w, h};
  else
    g_logical.erase(window);
  if (SDL_Renderer* r = SDL_GetRenderer(window)) SDL_RenderSetLogicalSize(r, on ? w : 0, on ? h : 0);
}

}  // namespace orvane::host
