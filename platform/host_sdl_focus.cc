// The SDL host's mouse capture and cursor visibility.
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

}  // namespace orvane::host
