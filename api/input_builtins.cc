// Keys, mouse, input devices and the event wait: the built-ins and their export twins, thin
// layers over the Input and Event units.
#include <cstdio>
#include <cstring>

#include "api/api_common.h"
#include "api/api_frame.h"
#include "api/ov_api.h"
#include "platform/user.h"
#include "shell/ceventwaiter.h"
#include "shell/cinputmanager.h"
#include "shell/cmainwindow.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

DRef<CInputDevice> CurrentInput() {
  return DRef<CInputDevice>::Convert(CurrentObjects().input);
}

bool SlotState(const DRef<CInputDevice>& d, int32_t slot) {
  return d && slot >= 0 && slot < kInputSlots && d->GetSlotState(slot);
}

void MapKey(int32_t key, int32_t slot) {
  if (key < 0 || key >= 256 || slot < 0 || slot >= kInputSlots) return;
  InputManager().Pad().SetKeyMap(key, slot);
}

void SetMousePos(int32_t x, int32_t y) {
  POINT p{x, y};
  HWND w = MainWindow().GetHandle();
  if (w) ClientToScreen(w, &p);
  SetCursorPos(p.x, p.y);
}

// ---- Built-ins.

bool BiGetInputCount(ScriptContext* ctx) {
  ctx->result()->SetInt(InputManager().GetDeviceCount());
  return false;
}
bool BiGetInputName(ScriptContext* ctx) {
  ctx->result()->SetString(InputManager().GetDeviceName(ctx->GetArg(1)->ToInt()));
  return false;
}
bool BiGetInputDevice(ScriptContext* ctx) {
  const int32_t n = ctx->GetArg(1)->ToInt();
  DRef<CInputDevice> d = InputManager().GetDevice(n);
  if (!d) {
    char text[160];
    std::snprintf(text, sizeof text, "デバイスを取得できません。\n%d 番目のデバイスは存在しません。", n);
    ReportRuntimeError(text, ctx);
    return false;
  }
  SetObjectValue(ctx->result(), kScriptInputDevice, DRef<void>::Convert(d));
  return false;
}
bool BiGetInputKeyboard(ScriptContext* ctx) {
  SetObjectValue(ctx->result(), kScriptInputDevice, DRef<void>::Convert(InputManager().GetDevice(0)));
  return false;
}
bool BiClearInput(ScriptContext*) {
  if (DRef<CInputDevice> d = CurrentInput()) d->Update();
  return false;
}
bool BiGetInputState(ScriptContext* ctx) {
  ctx->result()->SetInt(SlotState(CurrentInput(), ctx->GetArg(1)->ToInt()) ? 1 : 0);
  return false;
}
bool BiGetInputEvent(ScriptContext* ctx) {
  DRef<CInputDevice> d = CurrentInput();
  int32_t slot = 0, state = 0;
  const bool got = d && d->GetEvent(&slot, &state);
  if (got) {
    ctx->GetArg(1)->SetInt(slot);
    ctx->GetArg(2)->SetInt(state);
  }
  ctx->result()->SetInt(got ? 1 : 0);
  return false;
}
bool BiMapInputKey(ScriptContext* ctx) {
  MapKey(ctx->GetArg(1)->ToInt(), ctx->GetArg(2)->ToInt());
  return false;
}
bool BiGetKeyState(ScriptContext* ctx) {
  ctx->result()->SetInt(InputManager().IsKeyDown(ctx->GetArg(1)->ToInt()) ? 1 : 0);
  return false;
}
bool BiClearKey(ScriptContext*) {
  InputManager().ClearKey();
  return false;
}
bool BiGetKeyEvent(ScriptContext* ctx) {
  int32_t key = 0, state = 0;
  const bool got = InputManager().GetKeyEvent(&key, &state);
  if (got) {
    ctx->GetArg(1)->SetInt(key);
    ctx->GetArg(2)->SetInt(state);
  }
  ctx->result()->SetInt(got ? 1 : 0);
  return false;
}
bool BiClearMouse(ScriptContext*) {
  InputManager().ClearMouse();
  return false;
}
bool BiGetMouse(ScriptContext* ctx) {
  uint32_t kind = 0;
  int32_t x = 0, y = 0;
  const bool got = InputManager().PopMouseEvent(&kind, &x, &y);
  if (got) {
    ctx->GetArg(1)->SetInt(static_cast<int32_t>(kind));
    ctx->GetArg(2)->SetInt(x);
    ctx->GetArg(3)->SetInt(y);
  }
  ctx->result()->SetInt(got ? 1 : 0);
  return false;
}
bool BiGetMousePos(ScriptContext* ctx) {
  int32_t x = 0, y = 0;
  InputManager().GetMousePos(&x, &y);
  ctx->GetArg(1)->SetInt(x);
  ctx->GetArg(2)->SetInt(y);
  return false;
}
bool BiSetMousePos(ScriptContext* ctx) {
  const int32_t x = ctx->GetArg(1)->ToInt();
  SetMousePos(x, ctx->GetArg(2)->ToInt());
  return false;
}
bool BiShowMouse(ScriptContext* ctx) {
  MainWindow().ShowCursor(ctx->GetArg(1)->ToInt() != 0);
  return false;
}
bool BiWaitKeyEvent(ScriptContext* ctx) {
  EventWaiter().SetWaitKey(ctx->GetArg(1)->ToInt() != 0);
  return false;
}
bool BiWaitMouseEvent(ScriptContext* ctx) {
  EventWaiter().SetWaitMouse(ctx->GetArg(1)->ToInt() != 0);
  return false;
}
bool BiWaitInputEvent(ScriptContext* ctx) {
  DRef<CInputDevice> d = ObjectOfValueAs<CInputDevice>(*ctx->GetArg(1), kScriptInputDevice);
  if (!d) {
    ctx->RaiseError(kScriptKindErrorBase + kScriptInputDevice);
    return false;
  }
  EventWaiter().AddInput(d);
  return false;
}
bool BiClearEvent(ScriptContext*) {
  EventWaiter().Clear();
  return false;
}
bool BiWaitEvent(ScriptContext* ctx) {
  const int32_t ms = ctx->GetArg(1)->ToInt();
  ctx->result()->SetInt(EventWaiter().Wait(static_cast<uint32_t>(ms)) ? 1 : 0);
  return false;
}

}  // namespace

ORVANE_START_CODE void InstallInputBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {50, Guarded<BiGetInputCount>},    {51, Guarded<BiGetInputName>},  {52, Guarded<BiGetInputDevice>},
      {53, Guarded<BiGetInputKeyboard>}, {54, Guarded<BiClearInput>},    {55, Guarded<BiGetInputState>},
      {56, Guarded<BiGetInputEvent>},    {57, Guarded<BiMapInputKey>},   {60, Guarded<BiGetKeyState>},
      {83, Guarded<BiClearKey>},         {85, Guarded<BiGetKeyEvent>},   {86, Guarded<BiClearMouse>},
      {69, Guarded<BiGetMouse>},         {237, Guarded<BiGetMousePos>},  {265, Guarded<BiSetMousePos>},
      {173, Guarded<BiShowMouse>},       {103, Guarded<BiWaitKeyEvent>}, {104, Guarded<BiWaitMouseEvent>},
      {142, Guarded<BiWaitInputEvent>},  {145, Guarded<BiClearEvent>},   {65, Guarded<BiWaitEvent>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.h);
}

// ---- Exports.

#define OV_GUARD(failure, ...) \
  try {                        \
    __VA_ARGS__;               \
  } catch (...) {              \
    return failure;            \
  }

int32_t ovGetInputCount() noexcept {
  OV_GUARD(0, return InputManager().GetDeviceCount())
}
void ovGetInputName(char* buffer, uint32_t size, int32_t n) noexcept {
  OV_GUARD(, if (buffer == nullptr || size == 0) return; const char* name = InputManager().GetDeviceName(n);
           const size_t len = std::strlen(name); const size_t cut = len < size - 1 ? len : size - 1;
           std::memcpy(buffer, name, cut); buffer[cut] = '\0')
}
ApiHandle* ovGetInputDevice(int32_t n) noexcept {
    OV_GUARD(nullptr,
             return NewApiHandle(kScriptInputDevice, DRef<void>::Convert(InputManager().GetDevice(
                                                         n))))} ApiHandle* ovGetInputKeyboard() noexcept {
  OV_GUARD(nullptr, return NewApiHandle(kScriptInputDevice, DRef<void>::Convert(InputManager().GetDevice(0))))
}
void ovDestroyInput(ApiHandle* device) noexcept {
  DestroyApiHandle(device, kScriptInputDevice, "ovDestroyInput");
}
void ovClearInput(ApiHandle* device) noexcept {
  OV_GUARD(, if (auto d = ApiHandleAs<CInputDevice>(device, kScriptInputDevice, "ovClearInput")) d->Update())
}
int32_t ovGetInputState(ApiHandle* device, int32_t slot) noexcept {OV_GUARD(
    0, return SlotState(ApiHandleAs<CInputDevice>(device, kScriptInputDevice, "ovGetInputState"), slot)
                  ? 1
                  : 0)} int32_t ovGetInputEvent(int32_t* slot, int32_t* state, ApiHandle* device) noexcept {
  OV_GUARD(0, if (slot == nullptr || state == nullptr) return 0;
           auto d = ApiHandleAs<CInputDevice>(device, kScriptInputDevice, "ovGetInputEvent");
           int32_t s = 0, k = 0; if (!d || !d->GetEvent(&s, &k)) return 0; *slot = s; *state = k; return 1)
}
void ovMapInputKey(int32_t key, int32_t slot) noexcept {OV_GUARD(, MapKey(key, slot))} int32_t
    ovGetKeyState(int32_t key) noexcept {
  OV_GUARD(0, return InputManager().IsKeyDown(key) ? 1 : 0)
}
void ovClearKey() noexcept {OV_GUARD(, InputManager().ClearKey())} int32_t
    ovGetKeyEvent(int32_t* key, int32_t* state) noexcept {
  OV_GUARD(0, if (key == nullptr || state == nullptr) return 0; int32_t k = 0, s = 0;
           if (!InputManager().GetKeyEvent(&k, &s)) return 0; *key = k; *state = s; return 1)
}
void ovClearMouse() noexcept {OV_GUARD(, InputManager().ClearMouse())} int32_t
    ovGetMouse(int32_t* kind, int32_t* x, int32_t* y) noexcept {
  OV_GUARD(0, if (kind == nullptr || x == nullptr || y == nullptr) return 0; uint32_t k = 0;
           int32_t px = 0, py = 0; if (!InputManager().PopMouseEvent(&k, &px, &py)) return 0;
           *kind = static_cast<int32_t>(k); *x = px; *y = py; return 1)
}
void ovGetMousePos(int32_t* x, int32_t* y) noexcept {
  OV_GUARD(, if (x == nullptr || y == nullptr) return; int32_t px = 0, py = 0;
           InputManager().GetMousePos(&px, &py); *x = px; *y = py)
}
void ovSetMousePos(int32_t x, int32_t y) noexcept {
  OV_GUARD(, SetMousePos(x, y))
}
void ovShowMouse(int32_t flag) noexcept {
  OV_GUARD(, MainWindow().ShowCursor(flag != 0))
}
void ovWaitKeyEvent(int32_t flag) noexcept {
  OV_GUARD(, EventWaiter().SetWaitKey(flag != 0))
}
void ovWaitMouseEvent(int32_t flag) noexcept {
  OV_GUARD(, EventWaiter().SetWaitMouse(flag != 0))
}
void ovWaitInputEvent(ApiHandle* device) noexcept {
  OV_GUARD(,
           EventWaiter().AddInput(ApiHandleAs<CInputDevice>(device, kScriptInputDevice, "ovWaitInputEvent")))
}
void ovClearEvent() noexcept {OV_GUARD(, EventWaiter().Clear())} int32_t ovWaitEvent(int32_t ms) noexcept {
  OV_GUARD(0, return EventWaiter().Wait(static_cast<uint32_t>(ms)) ? 1 : 0)
}
