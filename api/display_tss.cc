// The sprite system's side of the display interface, and the engine's choice between the two
// display units per call: in the sprite system's mode the window functions act on the TSS unit,
// otherwise on the Draw screen. Before the unit has started every call fails by its result.
#include "api/api_frame.h"
#include "api/display_ops.h"
#include "display/tss/dtss_manager.h"

namespace {

DisplayOps g_draw;  // the Draw unit's operations

bool TssRunning() {
  return InTssMode() && TssManager().IsCreated();
}

bool SetWindowSize(int32_t width, int32_t height) {
  if (InTssMode()) return TssRunning() && TssManager().SetWindowSize(width, height);
  return g_draw.set_window_size && g_draw.set_window_size(width, height);
}
void GetWindowSize(int32_t* width, int32_t* height) {
  if (InTssMode()) {
    if (TssRunning()) TssManager().GetWindowSize(width, height);
    return;
  }
  if (g_draw.get_window_size) g_draw.get_window_size(width, height);
}
bool IsFullscreen() {
  if (InTssMode()) return TssRunning() && TssManager().IsFullscreen();
  return g_draw.is_fullscreen && g_draw.is_fullscreen();
}
bool CheckFullscreenSize(int32_t width, int32_t height) {
  if (InTssMode()) return TssRunning() && TssManager().CheckFullscreenSize(width, height);
  return g_draw.check_fullscreen_size && g_draw.check_fullscreen_size(width, height);
}
void SetFullscreen(bool on) {
  if (InTssMode()) {
    if (TssRunning()) TssManager().SetFullscreen(on);
    return;
  }
  if (g_draw.set_fullscreen) g_draw.set_fullscreen(on);
}
void SetFlipscreen(bool on) {
  if (InTssMode()) {
    if (TssRunning()) TssManager().SetFlipscreen(on);
    return;
  }
  if (g_draw.set_flipscreen) g_draw.set_flipscreen(on);
}

}  // namespace

void InstallEngineDisplayOps() {
  InstallDrawDisplayOps();
  g_draw = GetDisplayOps();
  DisplayOps ops;
  ops.set_window_size = SetWindowSize;
  ops.get_window_size = GetWindowSize;
  ops.is_fullscreen = IsFullscreen;
  ops.check_fullscreen_size = CheckFullscreenSize;
  ops.set_fullscreen = SetFullscreen;
  ops.set_flipscreen = SetFlipscreen;
  SetDisplayOps(ops);
}
