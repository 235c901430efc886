// DirectInput devices behind the Input unit's DinputDevice interface.
#include "shell/dinput_devices.h"

#include <cstring>

#include "base/dapplication.h"
#include "base/dwindow.h"
#include "platform/shellapi.h"
#include "platform/user.h"

namespace {

constexpr DWORD kButtonOffset = offsetof(DIJOYSTATE, rgbButtons);

HWND HandleOf(DWindow* w) {
  return w ? w->GetHandle() : nullptr;
}

// The joystick item of a buffered record's offset: 0-5 for an axis, 6-37 for a button, -1 else.
int32_t JoystickItem(DWORD ofs) {
  if (ofs >= kButtonOffset && ofs < kButtonOffset + 32) return static_cast<int32_t>(6 + ofs - kButtonOffset);
  if (ofs <= 20 && ofs % 4 == 0) return static_cast<int32_t>(ofs / 4);
  return -1;
}

}  // namespace

// ---- DinputDevice defaults.

bool DinputDevice::GetRange(int32_t*, int32_t*, int32_t) {
  return false;
}
void DinputDevice::RunControlPanel(DWindow*) {}
bool DinputDevice::IsOn(int32_t item) {
  int32_t scratch = 0;
  return GetState(&scratch, item);
}
bool DinputDevice::GetEvent(int32_t*, uint32_t*) {
  return false;
}
bool DinputDevice::HasEvent() {
  return false;
}

// ---- Polled devices.

DinputPolledDevice::~DinputPolledDevice() {
  Close();
}

void DinputPolledDevice::Attach(DinputManager* owner, IDirectInputDevice7A* device, const DIDEVCAPS& caps) {
  owner_ = owner;
  device_ = device;
  caps_ = caps;
  stale_ = 1;
  std::memset(StateBuffer(), 0, StateSize());
}

void DinputPolledDevice::Close() {
  if (device_) {
    device_->Unacquire();
    device_->Release();
    device_ = nullptr;
  }
  if (owner_) {
    DinputManager* owner = owner_;
    owner_ = nullptr;
    owner->RemoveDevice(this);
  }
}

void DinputPolledDevice::Update() {
  if (stale_) Poll();
  stale_ = 1;
}

bool DinputPolledDevice::Poll() {
  if (!stale_) return true;
  if (!device_) return false;
  if (caps_.dwFlags & DIDC_POLLEDDATAFORMAT) {
    if (FAILED(device_->Poll())) {
      if (FAILED(device_->Acquire()) || FAILED(device_->Poll())) return false;
    }
  }
  if (FAILED(device_->GetDeviceState(StateSize(), StateBuffer()))) {
    if (FAILED(device_->Acquire()) || FAILED(device_->GetDeviceState(StateSize(), StateBuffer())))
      return false;
  }
  cursor_ = 0;
  DWORD count = 32;
  if (FAILED(device_->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), buffer_, &count, 0))) {
    record_count_ = 0;
    count = 32;
    if (FAILED(device_->Acquire()) ||
        FAILED(device_->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), buffer_, &count, 0))) {
      return false;
    }
  }
  record_count_ = count > 32 ? 32 : count;
  stale_ = 0;
  return true;
}

// ---- Keyboard.

bool DinputKeyboard::GetState(int32_t*, int32_t item) {
  if (!Poll()) return false;
  if (item < 0 || item >= 256) return false;
  return (state_[item] & 0x80) != 0;
}

bool DinputKeyboard::GetEvent(int32_t* item, uint32_t* data) {
  if (!Poll() || cursor_ >= record_count_) return false;
  *item = static_cast<int32_t>(buffer_[cursor_].dwOfs);
  *data = buffer_[cursor_].dwData;
  ++cursor_;
  return true;
}

bool DinputKeyboard::HasEvent() {
  return Poll() && cursor_ < record_count_;
}

// ---- Joystick.

bool DinputJoystick::GetRange(int32_t* minimum, int32_t* maximum, int32_t item) {
  if (item < 0 || item > 5 || !device_) return false;
  device_->Unacquire();
  stale_ = 1;  // the next poll acquires again
  DIPROPRANGE range = {};
  range.diph.dwSize = sizeof(DIPROPRANGE);
  range.diph.dwHeaderSize = sizeof(DIPROPHEADER);
  range.diph.dwObj = static_cast<DWORD>(item * 4);
  range.diph.dwHow = DIPH_BYOFFSET;
  if (FAILED(device_->GetProperty(DIPROP_RANGE, &range.diph))) return false;
  *minimum = range.lMin;
  *maximum = range.lMax;
  return true;
}

uint32_t DinputJoystick::GetItemCount() {
  return caps_.dwButtons > 32 ? 32 : caps_.dwButtons;
}

void DinputJoystick::RunControlPanel(DWindow* owner) {
  if (device_) device_->RunControlPanel(HandleOf(owner), 0);
}

bool DinputJoystick::GetState(int32_t* value, int32_t item) {
  if (!Poll()) return false;
  if (item >= 0 && item <= 5) {
    *value = (&state_.lX)[item];
    return true;
  }
  if (item >= 6 && item <= 37) return (state_.rgbButtons[item - 6] & 0x80) != 0;
  return false;
}

bool DinputJoystick::GetEvent(int32_t* item, uint32_t* data) {
  if (!Poll()) return false;
  while (cursor_ < record_count_) {
    const DIDEVICEOBJECTDATA& r = buffer_[cursor_++];
    int32_t i = JoystickItem(r.dwOfs);
    if (i < 0) continue;
    *item = i;
    *data = r.dwData;
    return true;
  }
  return false;
}

bool DinputJoystick::HasEvent() {
  if (!Poll()) return false;
  for (uint32_t i = cursor_; i < record_count_; ++i) {
    if (JoystickItem(buffer_[i].dwOfs) >= 0) return true;
  }
  return false;
}

// ---- Manager.

DinputManager::~DinputManager() {
  Shutdown();
}

bool DinputManager::Init() {
  if (input_) return false;
  DApplication* app = DGetApplication();
  void* object = nullptr;
  if (FAILED(DirectInputCreateEx(app ? app->GetInstance() : nullptr, DIRECTINPUT_VERSION, IID_IDirectInput7A,
                                 &object, nullptr))) {
    Shutdown();
    return false;
  }
  input_ = static_cast<IDirectInput7A*>(object);
  return true;
}

bool DinputManager::Shutdown() {
  if (!input_) return false;
  ReleaseAll();
  devices_.Clear();
  input_->Release();
  input_ = nullptr;
  return true;
}

void DinputManager::ReleaseAll() {
  while (!devices_.IsEmpty()) {
    DRef<DinputDevice> d = devices_.Front();
    uint32_t before = devices_.GetCount();
    d->Close();
    // A device that did not take itself out would loop for ever.
    if (devices_.GetCount() == before) RemoveDevice(d.Get());
  }
}

void DinputManager::RemoveDevice(DinputDevice* device) {
  for (auto it = devices_.Begin(); !(it == devices_.End());) {
    if (it.Value().Get() == device) {
      it = devices_.Erase(it);
    } else {
      it = it.Next();
    }
  }
}

BOOL DinputManager::EnumJoystickProc(LPCDIDEVICEINSTANCEA instance, void* context) {
  auto* list = static_cast<DRefList<DinputJoystickInfo>*>(context);
  DRef<DinputJoystickInfo> info;
  info.Alloc(1);
  info->instance = instance->guidInstance;
  info->product = instance->guidProduct;
  std::strncpy(info->name, instance->tszInstanceName, 263);
  info->name[263] = 0;
  list->PushBack(info);
  return DIENUM_CONTINUE;
}

bool DinputManager::EnumJoysticks(DRefList<DinputJoystickInfo>* list) {
  if (!input_) return false;
  return SUCCEEDED(input_->EnumDevices(DIDEVTYPE_JOYSTICK, &EnumJoystickProc, list, DIEDFL_ATTACHEDONLY));
}

bool DinputManager::CreateDevice(DWindow* owner, const GUID& instance, bool keyboard,
                                 IDirectInputDevice7A** device, DIDEVCAPS* caps) {
  if (!input_) return false;
  void* object = nullptr;
  if (FAILED(input_->CreateDeviceEx(instance, IID_IDirectInputDevice7A, &object, nullptr))) return false;
  auto* d = static_cast<IDirectInputDevice7A*>(object);
  DIPROPDWORD size = {};
  size.diph.dwSize = sizeof(DIPROPDWORD);
  size.diph.dwHeaderSize = sizeof(DIPROPHEADER);
  size.diph.dwHow = DIPH_DEVICE;
  size.dwData = 32;
  caps->dwSize = sizeof(DIDEVCAPS);
  DWORD level = keyboard ? DISCL_NONEXCLUSIVE | DISCL_FOREGROUND : DISCL_EXCLUSIVE | DISCL_FOREGROUND;
  if (FAILED(d->SetDataFormat(keyboard ? &c_dfDIKeyboard : &c_dfDIJoystick)) ||
      FAILED(d->SetCooperativeLevel(HandleOf(owner), level)) || FAILED(d->GetCapabilities(caps)) ||
      FAILED(d->SetProperty(DIPROP_BUFFERSIZE, &size.diph))) {
    d->Release();
    return false;
  }
  *device = d;
  return true;
}

DRef<DinputJoystick> DinputManager::CreateJoystick(DWindow* owner, const GUID& instance) {
  DRef<DinputJoystick> r;
  IDirectInputDevice7A* d = nullptr;
  DIDEVCAPS caps = {};
  if (!CreateDevice(owner, instance, false, &d, &caps)) return r;
  r.Alloc(1);
  r->Attach(this, d, caps);
  devices_.PushBack(DRef<DinputDevice>::Convert(r));
  return r;
}

DRef<DinputKeyboard> DinputManager::CreateKeyboard(DWindow* owner) {
  DRef<DinputKeyboard> r;
  IDirectInputDevice7A* d = nullptr;
  DIDEVCAPS caps = {};
  if (!CreateDevice(owner, GUID_SysKeyboard, true, &d, &caps)) return r;
  r.Alloc(1);
  r->Attach(this, d, caps);
  devices_.PushBack(DRef<DinputDevice>::Convert(r));
  return r;
}

void DinputManager::OpenControlPanel() {
  if (input_) ShellExecuteA(nullptr, "open", "CONTROL.EXE", "JOY.CPL", nullptr, SW_SHOWNORMAL);
}
