// The SDL host's display hooks: the desktop depth and full screen as a desktop-sized window whose
// renderer scales the client surface from the chosen mode's size.
#include <SDL.h>

#include "platform/host_sdl_internal.h"

namespace orvane::host {

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
  if (SDL_Renderer* r = SDL_GetRenderer(window)) SDL_RenderSetLogicalSize(r, on ? w : 0, on ? h : 0);
}

}  // namespace orvane::host
