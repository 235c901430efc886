// The Input unit.
#include "shell/cinputmanager.h"

#include <cstring>

#include "platform/user.h"
#include "shell/cmainwindow.h"
#include "shell/mouse_queue.h"
#include "vm/script_task.h"

// ---- Keyboard pad.

bool CKeyboardPad::Open(DinputManager* manager, DWindow* owner) {
  DRef<DinputKeyboard> k = manager->CreateKeyboard(owner);
  if (!k) return false;
  keyboard_ = k;
  stale_ = 1;
  return true;
}

void CKeyboardPad::Update() {
  stale_ = 1;
  if (keyboard_) keyboard_->Update();
}

void CKeyboardPad::Poll() {
  if (!stale_) return;
  stale_ = 0;
  std::memset(&pad_, 0, sizeof(pad_));
  if (!keyboard_) return;
  // Later key codes overwrite earlier ones: of two opposite directions the higher code wins.
  for (int32_t key = 0; key < 256; ++key) {
    if (!keyboard_->IsOn(key)) continue;
    int32_t slot = key_map_[key];
    if (slot >= 4 && slot < kInputSlots) {
      pad_.rgbButtons[slot - 4] = 0x80;
    } else if (slot == 0) {
      pad_.lY = -128;
    } else if (slot == 1) {
      pad_.lY = 128;
    } else if (slot == 2) {
      pad_.lX = -128;
    } else if (slot == 3) {
      pad_.lX = 128;
    }
  }
}

bool CKeyboardPad::GetState(int32_t* value, int32_t item) {
  Poll();
  switch (item) {
    case 0:
      *value = pad_.lX;
      return true;
    case 1:
      *value = pad_.lY;
      return true;
    case 2:
      *value = 0;
      return false;
    default:
      if (item >= 6 && item <= 37) return (pad_.rgbButtons[item - 6] & 0x80) != 0;
      return false;
  }
}

void CKeyboardPad::SetKeyMap(int32_t key, int32_t slot) {
  if (key < 0 || key >= 256 || slot < 0 || slot >= kInputSlots) return;
  key_map_[key] = slot;
}

void CKeyboardPad::ResetKeyMap() {
  for (int32_t& s : key_map_) s = kSlotNone;
  key_map_[DIK_UP] = 0;
  key_map_[DIK_DOWN] = 1;
  key_map_[DIK_LEFT] = 2;
  key_map_[DIK_RIGHT] = 3;
  key_map_[DIK_RETURN] = 4;
  key_map_[DIK_SPACE] = 4;
  key_map_[DIK_Z] = 4;
  key_map_[DIK_ESCAPE] = 5;
  key_map_[DIK_X] = 5;
}

// ---- Devices.

namespace {

// Thresholds a third of the way from the centre to each end (divisions truncate toward zero).
void Thresholds(int32_t lo, int32_t hi, int32_t* low, int32_t* high) {
  int64_t c = (static_cast<int64_t>(lo) + hi) / 2;
  *low = static_cast<int32_t>(c - (c - lo) / 3);
  *high = static_cast<int32_t>(c + (hi - c) / 3);
}

}  // namespace

bool CInputDevice::Open(DinputManager* manager) {
  if (device) return true;
  DRef<DinputJoystick> j = manager->CreateJoystick(&MainWindow(), instance);
  if (!j) return false;
  device = DRef<DinputDevice>::Convert(j);
  button_count = device->GetItemCount();
  if (button_count > 32) button_count = 32;
  if (!device->GetRange(&x_low, &x_high, 0)) x_low = x_high = 0;
  if (!device->GetRange(&y_low, &y_high, 1)) y_low = y_high = 0;
  Thresholds(x_low, x_high, &x_low, &x_high);
  Thresholds(y_low, y_high, &y_low, &y_high);
  std::memset(state, 0, sizeof(state));
  // Three updates settle the state: a button held while the device opens gives no event.
  for (int i = 0; i < 3; ++i) Update();
  return true;
}

void CInputDevice::Update() {
  if (!device) return;
  device->Update();
  uint8_t before[kInputSlots];
  std::memcpy(before, state, sizeof(state));
  int32_t v = 0;
  bool ok = device->GetState(&v, 1);
  state[0] = ok && v < y_low;
  ok = device->GetState(&v, 1);
  state[1] = ok && v > y_high;
  ok = device->GetState(&v, 0);
  state[2] = ok && v < x_low;
  ok = device->GetState(&v, 0);
  state[3] = ok && v > x_high;
  for (uint32_t b = 0; b < button_count && b < 32; ++b)
    state[4 + b] = device->IsOn(static_cast<int32_t>(6 + b));
  for (int32_t i = 0; i < kInputSlots; ++i) changed[i] = state[i] != before[i];
  event_cursor = 0;
}

bool CInputDevice::GetSlotState(int32_t slot) const {
  return slot >= 0 && slot < kInputSlots && state[slot] != 0;
}

bool CInputDevice::GetEvent(int32_t* slot, int32_t* kind) {
  while (event_cursor < kInputSlots) {
    int32_t i = event_cursor++;
    if (!changed[i]) continue;
    *slot = i;
    *kind = state[i] ? 1 : 2;
    return true;
  }
  return false;
}

bool CInputDevice::HasEvent() const {
  for (int32_t i = event_cursor < 0 ? 0 : event_cursor; i < kInputSlots; ++i) {
    if (changed[i]) return true;
  }
  return false;
}

// ---- Manager.

bool CInputManager::Init() {
  if (input_.HasDirectInput() || !input_.Init()) return false;
  if (!pad_.Open(&input_, &MainWindow())) return false;
  if (!EnumDevices()) return false;
  EngineMouseQueues().Reset();
  return true;
}

bool CInputManager::EnumDevices() {
  DRefList<DinputJoystickInfo> found;
  if (!input_.EnumJoysticks(&found)) return false;
  DRef<CInputDevice> keyboard;
  keyboard.Alloc(1);
  keyboard->device.Attach(&pad_);
  std::strcpy(keyboard->name, "キーボード");
  keyboard->button_count = pad_.GetItemCount();
  devices_.PushBack(keyboard);
  for (auto it = found.Begin(); !(it == found.End()); it = it.Next()) {
    DRef<DinputJoystickInfo> info = it.Value();
    DRef<CInputDevice> d;
    d.Alloc(1);
    std::memcpy(d->name, info->name, sizeof(d->name));
    d->name[263] = 0;
    d->instance = info->instance;
    devices_.PushBack(d);
  }
  return true;
}

void CInputManager::Term() {
  devices_.Clear();
  pad_.Close();
  input_.Shutdown();
}

DRef<CInputDevice> CInputManager::FindDevice(int32_t index) {
  if (index < 0 || index >= GetDeviceCount()) return {};
  auto it = devices_.Begin();
  for (int32_t i = 0; i < index; ++i) it = it.Next();
  return it.Value();
}

DRef<CInputDevice> CInputManager::GetDevice(int32_t index) {
  DRef<CInputDevice> d = FindDevice(index);
  if (!d || !d->Open(&input_)) return {};
  return d;
}

const char* CInputManager::GetDeviceName(int32_t index) {
  DRef<CInputDevice> d = FindDevice(index);
  return d ? d->name : "";
}

bool CInputManager::HasKeyEvent() {
  DinputKeyboard* k = pad_.Keyboard();
  return k && k->HasEvent();
}

bool CInputManager::GetKeyEvent(int32_t* key, int32_t* kind) {
  DinputKeyboard* k = pad_.Keyboard();
  int32_t item = 0;
  uint32_t data = 0;
  if (!k || !k->GetEvent(&item, &data)) return false;
  *key = item;
  *kind = (data & 0x80) ? 1 : 2;
  return true;
}

bool CInputManager::IsKeyDown(int32_t key) {
  DinputKeyboard* k = pad_.Keyboard();
  return k && key >= 0 && key < 256 && k->IsOn(key);
}

void CInputManager::GetMousePos(int32_t* x, int32_t* y) {
  POINT p{0, 0};
  GetCursorPos(&p);
  HWND w = MainWindow().GetHandle();
  if (w) ScreenToClient(w, &p);
  *x = p.x;
  *y = p.y;
}

void CInputManager::PushMouseEvent(uint32_t kind, int32_t x, int32_t y) {
  EngineMouseQueues().PushMouseEvent(kind, x, y);
}
void CInputManager::ClearMouse() {
  EngineMouseQueues().ClearMouse();
}
bool CInputManager::HasMouseEvent() const {
  return EngineMouseQueues().HasMouseEvent();
}
bool CInputManager::PopMouseEvent(uint32_t* kind, int32_t* x, int32_t* y) {
  return EngineMouseQueues().PopMouseEvent(kind, x, y);
}

CInputManager& InputManager() {
  static CInputManager* m = new CInputManager;
  return *m;
}

DRef<CInputDevice>& DefaultInputDevice() {
  static DRef<CInputDevice>* d = new DRef<CInputDevice>;
  return *d;
}

namespace {

VmUnitHooks g_previous_hooks;
bool g_hooks_installed = false;

bool InitInputDefaults(uint32_t flags) {
  if (g_previous_hooks.init_defaults && !g_previous_hooks.init_defaults(flags)) return false;
  DefaultInputDevice() = InputManager().GetDevice(0);
  return static_cast<bool>(DefaultInputDevice());
}
void ResetInputDefaults(uint32_t flags) {
  if (g_previous_hooks.reset_current_objects) g_previous_hooks.reset_current_objects(flags);
  ResetInputKeyMap();
}
void TermInputDefaults() {
  if (g_previous_hooks.term_defaults) g_previous_hooks.term_defaults();
  DefaultInputDevice().Release();
}

}  // namespace

bool StartInputUnit() {
  if (!InputManager().Init()) return false;
  if (!g_hooks_installed) {
    VmUnitHooks hooks;
    hooks.init_defaults = InitInputDefaults;
    hooks.reset_current_objects = ResetInputDefaults;
    hooks.term_defaults = TermInputDefaults;
    g_previous_hooks = SetVmUnitHooks(hooks);
    g_hooks_installed = true;
  }
  return true;
}
void StopInputUnit() {
  if (g_hooks_installed) {
    SetVmUnitHooks(g_previous_hooks);
    g_previous_hooks = VmUnitHooks();
    g_hooks_installed = false;
  }
  DefaultInputDevice().Release();
  InputManager().Term();
}
void ResetInputKeyMap() {
  InputManager().Pad().ResetKeyMap();
}
