// Inside the SDL host module only: the SDL windows of the top-level windows, for the module's
// files (host_sdl*.cc) that act on them.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "platform/host.h"

namespace orvane::host {

// The host's hooks (the table the module hands to the platform library).
const HostHooks& SdlHost();
// The SDL window of a top-level window, or null.
SDL_Window* SdlWindowOf(HWND hwnd);
// The top-level window an SDL window shows, or null.
HWND SdlWindowHandle(SDL_Window* window);
// The pictures (host_sdl_present.cc): a present of a client surface's dirty part, an expose that
// shows the whole picture again, a window going away.
void SdlPresentSurface(HWND hwnd, const std::uint32_t* pixels, int w, int h, int pitch, const RECT& dirty);
void SdlPresentExpose(HWND hwnd);
void SdlPresentForget(HWND hwnd);
// The display hooks (host_sdl_display.cc).
int SdlDesktopDepth();
void SdlSetFullscreen(HWND hwnd, bool on, int w, int h);
// Gives a renderer made after the window went full screen the scaling of the chosen mode.
void SdlApplyLogicalSize(SDL_Window* window, SDL_Renderer* renderer);
// The capture and cursor hooks (host_sdl_focus.cc).
void SdlCaptureMouse(HWND hwnd, bool on);
void SdlShowCursor(bool visible);
void SdlWarpCursor(HWND hwnd, int x, int y);
// The audio output (host_sdl_audio.cc).
bool SdlOpenAudio(unsigned* rate, void (*render)(std::int16_t* out, unsigned frames));
void SdlCloseAudio();
// Joysticks (host_sdl_input.cc): SDL's joystick events feed the DirectInput hub; true when the
// event was a joystick's.
void SdlJoystickInit();
void SdlJoystickQuit();
bool SdlJoystickEvent(const SDL_Event& e);

}  // namespace orvane::host
