// The window and full-screen functions: built-ins, exports and their workers over DisplayOps.
#include "api/display_ops.h"

#include "api/api_frame.h"
#include "api/ov_api.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

DisplayOps& Ops() {
  static DisplayOps ops;
  return ops;
}

}  // namespace

DisplayOps SetDisplayOps(const DisplayOps& ops) {
  DisplayOps previous = Ops();
  Ops() = ops;
  return previous;
}
const DisplayOps& GetDisplayOps() {
  return Ops();
}

bool DisplaySetWindowSize(int32_t width, int32_t height) {
  return Ops().set_window_size && Ops().set_window_size(width, height);
}
void DisplayGetWindowSize(int32_t* width, int32_t* height) {
  int32_t w = 0, h = 0;
  if (Ops().get_window_size) Ops().get_window_size(&w, &h);
  if (width) *width = w;
  if (height) *height = h;
}
bool DisplayIsFullscreen() {
  return Ops().is_fullscreen && Ops().is_fullscreen();
}
bool DisplayCheckFullscreenSize(int32_t width, int32_t height) {
  return Ops().check_fullscreen_size && Ops().check_fullscreen_size(width, height);
}
void DisplaySetFullscreen(bool on) {
  if (Ops().set_fullscreen) Ops().set_fullscreen(on);
}
void DisplaySetFlipscreen(bool on) {
  if (Ops().set_flipscreen) Ops().set_flipscreen(on);
}

int32_t ovSetWindowSize(int32_t width, int32_t height) noexcept {
  try {
    return DisplaySetWindowSize(width, height) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
void ovGetWindowSize(int32_t* width, int32_t* height) noexcept {
  try {
    DisplayGetWindowSize(width, height);
  } catch (...) {
  }
}
int32_t ovIsFullscreen() noexcept {
  try {
    return DisplayIsFullscreen() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
int32_t ovCheckFullscreenSize(int32_t width, int32_t height) noexcept {
  try {
    return DisplayCheckFullscreenSize(width, height) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
void ovSetFullscreen(int32_t flag) noexcept {
  try {
    DisplaySetFullscreen(flag != 0);
  } catch (...) {
  }
}
void ovSetFlipscreen(int32_t flag) noexcept {
  try {
    DisplaySetFlipscreen(flag != 0);
  } catch (...) {
  }
}

namespace {

bool BiSetWindowSize(ScriptContext* ctx) {
  const int32_t width = ctx->GetArg(1)->ToInt();
  const int32_t height = ctx->GetArg(2)->ToInt();
  if (!DisplaySetWindowSize(width, height))
    ReportRuntimeError("スクリーンサイズを変更できませんでした。", ctx);
  return false;
}
bool BiGetWindowSize(ScriptContext* ctx) {
  int32_t w, h;
  DisplayGetWindowSize(&w, &h);
  ctx->GetArg(1)->SetInt(w);
  ctx->GetArg(2)->SetInt(h);
  return false;
}
bool BiIsFullscreen(ScriptContext* ctx) {
  ctx->result()->SetBool(DisplayIsFullscreen());
  return false;
}
bool BiCheckFullscreenSize(ScriptContext* ctx) {
  const int32_t width = ctx->GetArg(1)->ToInt();
  const int32_t height = ctx->GetArg(2)->ToInt();
  ctx->result()->SetBool(DisplayCheckFullscreenSize(width, height));
  return false;
}
bool BiSetFullscreen(ScriptContext* ctx) {
  DisplaySetFullscreen(ctx->GetArg(1)->ToInt() != 0);
  return false;
}
bool BiSetFlipscreen(ScriptContext* ctx) {
  DisplaySetFlipscreen(ctx->GetArg(1)->ToInt() != 0);
  return false;
}
bool BiUseGDI(ScriptContext* ctx) {
  ovUseGDI(ctx->GetArg(1)->ToInt());
  return false;
}

}  // namespace

ORVANE_START_CODE void InstallDisplayBuiltins() {
  SetVmBuiltin(169, Guarded<BiSetWindowSize>);
  SetVmBuiltin(283, Guarded<BiGetWindowSize>);
  SetVmBuiltin(168, Guarded<BiIsFullscreen>);
  SetVmBuiltin(230, Guarded<BiCheckFullscreenSize>);
  SetVmBuiltin(170, Guarded<BiSetFullscreen>);
  SetVmBuiltin(171, Guarded<BiSetFlipscreen>);
  SetVmBuiltin(102, Guarded<BiUseGDI>);
}
