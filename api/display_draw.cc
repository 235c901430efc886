// The Draw unit's side of the display interface: the window functions on the Draw screen. In the
// sprite system's mode, or before the Draw screen is attached to its window, every call fails by its result.
#include "api/api_frame.h"
#include "api/display_ops.h"
#include "display/draw/screen.h"

namespace {

bool DrawRunning() {
  return !InTssMode() && DrawScreen().GetWindow() != nullptr;
}

bool SetWindowSize(int32_t width, int32_t height) {
  return DrawRunning() && DrawScreen().SetSize(width, height, true);
}
void GetWindowSize(int32_t* width, int32_t* height) {
  if (DrawRunning()) DrawScreen().GetSize(width, height);
}
bool IsFullscreen() {
  return DrawRunning() && DrawScreen().IsFullscreen();
}
bool CheckFullscreenSize(int32_t width, int32_t height) {
  return DrawRunning() && DrawScreen().CheckFullscreenSize(width, height);
}
void SetFullscreen(bool on) {
  if (DrawRunning()) DrawScreen().SetFullscreen(on);
}
void SetFlipscreen(bool on) {
  if (DrawRunning()) DrawScreen().SetFlipscreen(on);
}

}  // namespace

void InstallDrawDisplayOps() {
  DisplayOps ops;
  ops.set_window_size = SetWindowSize;
  ops.get_window_size = GetWindowSize;
  ops.is_fullscreen = IsFullscreen;
  ops.check_fullscreen_size = CheckFullscreenSize;
  ops.set_fullscreen = SetFullscreen;
  ops.set_flipscreen = SetFlipscreen;
  SetDisplayOps(ops);
}
