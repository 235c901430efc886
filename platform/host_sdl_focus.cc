// The SDL host's mouse capture, cursor visibility and cursor moves.
#include <SDL.h>

#include "platform/host_sdl_internal.h"

namespace orvane::host {

void SdlCaptureMouse(HWND hwnd, bool on) {
  (void)hwnd;
  SDL_CaptureMouse(on ? SDL_TRUE : SDL_FALSE);
}

void SdlShowCursor(bool visible) {
  SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

void SdlWarpCursor(HWND hwnd, int x, int y) {
  SDL_Window* window = SdlWindowOf(hwnd);
  if (!window) return;
  // A window scaled to full screen shows its client surface at a logical size: the client
  // position is a logical one there.
  int lw = 0, lh = 0;
  SDL_Renderer* renderer = SDL_GetRenderer(window);
  if (renderer) SDL_RenderGetLogicalSize(renderer, &lw, &lh);
  if (renderer && lw > 0 && lh > 0)
    SDL_RenderLogicalToWindow(renderer, static_cast<float>(x), static_cast<float>(y), &x, &y);
  SDL_WarpMouseInWindow(window, x, y);
}

}  // namespace orvane::host
