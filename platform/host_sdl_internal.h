// Inside the SDL host module only: the SDL windows of the top-level windows, for the module's
// files (host_sdl*.cc) that act on them.
#pragma once

#include <SDL.h>

#include "platform/host.h"

namespace orvane::host {

// The host's hooks (the table the module hands to the platform library).
const HostHooks& SdlHost();
// The SDL window of a top-level window, or null.
SDL_Window* SdlWindowOf(HWND hwnd);
// The top-level window an SDL window shows, or null.
HWND SdlWindowHandle(SDL_Window* window);

}  // namespace orvane::host
