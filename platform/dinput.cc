// The DirectInput stand-in: one hub with the current key and joystick states, and device objects
// that read it and buffer its changes while acquired.
#include "platform/dinput.h"

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/host.h"
#include "platform/mmsystem.h"
#include "platform/user.h"

namespace orvane::dinput {
namespace {

constexpr DWORD kMaxBuffer = 1024;
constexpr DWORD kPovCentred = 0xFFFFFFFFu;

struct Joystick {
  int id = 0;
  char name[264] = {};
  int axes = 0, buttons = 0, povs = 0;
  DIJOYSTATE state = {};
};

class Device;

struct Hub {
  std::mutex lock;
  BYTE keys[256] = {};
  std::vector<Joystick> joysticks;
  int next_id = 1;
  DWORD sequence = 0;
  std::vector<Device*> devices;  // every live device object
  std::atomic<uint64_t> state_reads{0};
};

Hub& TheHub() {
  static Hub* hub = new Hub;
  return *hub;
}

GUID InstanceGuid(int id) {
  return GUID{static_cast<DWORD>(id), 0x4A53, 0x4F56, {'o', 'r', 'v', 'j', 'o', 'y', 'i', 'n'}};
}
GUID ProductGuid(int id) {
  return GUID{static_cast<DWORD>(id), 0x4A53, 0x4F56, {'o', 'r', 'v', 'j', 'o', 'y', 'p', 'r'}};
}

Joystick* FindJoystick(Hub& h, int id) {
  for (Joystick& j : h.joysticks) {
    if (j.id == id) return &j;
  }
  return nullptr;
}

// The top-level window of a cooperative window is the foreground window.
bool WindowActive(HWND hwnd) {
  if (!hwnd) return true;
  HWND root = hwnd;
  for (HWND p = GetParent(root); p; p = GetParent(p)) root = p;
  return root == GetForegroundWindow();
}

class Device final : public IDirectInputDevice7A {
 public:
  Device(bool keyboard, int joystick) : keyboard_(keyboard), joystick_(joystick) {
    Hub& h = TheHub();
    std::lock_guard<std::mutex> l(h.lock);
    h.devices.push_back(this);
  }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirectInputDevice7A) {
      AddRef();
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) {
      Hub& h = TheHub();
      {
        std::lock_guard<std::mutex> l(h.lock);
        std::erase(h.devices, this);
      }
      delete this;
    }
    return n;
  }

  HRESULT GetCapabilities(DIDEVCAPS* caps) override {
    if (!caps || caps->dwSize != sizeof(DIDEVCAPS)) return DIERR_INVALIDPARAM;
    Hub& h = TheHub();
    std::lock_guard<std::mutex> l(h.lock);
    std::memset(caps, 0, sizeof(*caps));
    caps->dwSize = sizeof(DIDEVCAPS);
    caps->dwFlags = DIDC_ATTACHED;
    if (keyboard_) {
      caps->dwDevType = DIDEVTYPE_KEYBOARD;
      caps->dwButtons = 128;
      return DI_OK;
    }
    const Joystick* j = FindJoystick(h, joystick_);
    if (!j) return DIERR_INPUTLOST;
    caps->dwDevType = DIDEVTYPE_JOYSTICK;
    caps->dwAxes = static_cast<DWORD>(j->axes);
    caps->dwButtons = static_cast<DWORD>(j->buttons);
    caps->dwPOVs = static_cast<DWORD>(j->povs);
    return DI_OK;
  }

  HRESULT GetProperty(REFGUID property, DIPROPHEADER* header) override {
    if (!header || header->dwHeaderSize != sizeof(DIPROPHEADER)) return DIERR_INVALIDPARAM;
    if (property == DIPROP_BUFFERSIZE) {
      if (header->dwSize != sizeof(DIPROPDWORD) || header->dwHow != DIPH_DEVICE) return DIERR_INVALIDPARAM;
      reinterpret_cast<DIPROPDWORD*>(header)->dwData = buffer_size_;
      return DI_OK;
    }
    if (property == DIPROP_RANGE) {
      if (header->dwSize != sizeof(DIPROPRANGE) || header->dwHow != DIPH_BYOFFSET) return DIERR_INVALIDPARAM;
      if (keyboard_) return DIERR_UNSUPPORTED;
      Hub& h = TheHub();
      std::lock_guard<std::mutex> l(h.lock);
      const Joystick* j = FindJoystick(h, joystick_);
      if (!j) return DIERR_INPUTLOST;
      DWORD ofs = header->dwObj;
      if (ofs % 4 != 0 || ofs / 4 >= static_cast<DWORD>(j->axes)) return DIERR_OBJECTNOTFOUND;
      auto* r = reinterpret_cast<DIPROPRANGE*>(header);
      r->lMin = 0;
      r->lMax = 65535;
      return DI_OK;
    }
    return DIERR_UNSUPPORTED;
  }

  HRESULT SetProperty(REFGUID property, const DIPROPHEADER* header) override {
    if (!header || header->dwHeaderSize != sizeof(DIPROPHEADER)) return DIERR_INVALIDPARAM;
    if (property != DIPROP_BUFFERSIZE) return DIERR_UNSUPPORTED;
    if (header->dwSize != sizeof(DIPROPDWORD) || header->dwHow != DIPH_DEVICE) return DIERR_INVALIDPARAM;
    std::lock_guard<std::mutex> l(TheHub().lock);
    if (acquired_) return DIERR_ACQUIRED;
    DWORD n = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
    buffer_size_ = n > kMaxBuffer ? kMaxBuffer : n;
    return DI_OK;
  }

  HRESULT Acquire() override {
    if (!format_) return DIERR_INVALIDPARAM;
    bool active = !(coop_ & DISCL_FOREGROUND) || WindowActive(hwnd_);
    Hub& h = TheHub();
    std::lock_guard<std::mutex> l(h.lock);
    if (!keyboard_ && !FindJoystick(h, joystick_)) return DIERR_INPUTLOST;
    if (!active) return DIERR_OTHERAPPHASPRIO;
    if (acquired_) return DI_NOEFFECT;
    acquired_ = true;
    records_.clear();
    overflow_ = false;
    return DI_OK;
  }

  HRESULT Unacquire() override {
    std::lock_guard<std::mutex> l(TheHub().lock);
    if (!acquired_) return DI_NOEFFECT;
    acquired_ = false;
    records_.clear();
    return DI_OK;
  }

  HRESULT GetDeviceState(DWORD size, void* data) override {
    TheHub().state_reads.fetch_add(1, std::memory_order_relaxed);
    if (!data) return DIERR_INVALIDPARAM;
    HRESULT hr = CheckReadable();
    if (FAILED(hr)) return hr;
    Hub& h = TheHub();
    std::lock_guard<std::mutex> l(h.lock);
    if (keyboard_) {
      if (size != sizeof(h.keys)) return DIERR_INVALIDPARAM;
      std::memcpy(data, h.keys, sizeof(h.keys));
      return DI_OK;
    }
    if (size != sizeof(DIJOYSTATE)) return DIERR_INVALIDPARAM;
    const Joystick* j = FindJoystick(h, joystick_);
    if (!j) {
      acquired_ = false;
      return DIERR_INPUTLOST;
    }
    std::memcpy(data, &j->state, sizeof(DIJOYSTATE));
    return DI_OK;
  }

  HRESULT GetDeviceData(DWORD record_size, DIDEVICEOBJECTDATA* records, DWORD* count, DWORD flags) override {
    if (!count || record_size != sizeof(DIDEVICEOBJECTDATA) || flags != 0) return DIERR_INVALIDPARAM;
    HRESULT hr = CheckReadable();
    if (FAILED(hr)) return hr;
    Hub& h = TheHub();
    std::lock_guard<std::mutex> l(h.lock);
    if (!keyboard_ && !FindJoystick(h, joystick_)) {
      acquired_ = false;
      return DIERR_INPUTLOST;
    }
    DWORD n = 0;
    while (n < *count && !records_.empty()) {
      if (records) records[n] = records_.front();
      records_.pop_front();
      ++n;
    }
    *count = n;
    bool overflow = overflow_;
    overflow_ = false;
    return overflow ? DI_BUFFEROVERFLOW : DI_OK;
  }

  HRESULT SetDataFormat(const DIDATAFORMAT* format) override {
    if (!format) return DIERR_INVALIDPARAM;
    if (acquired_) return DIERR_ACQUIRED;
    DWORD want = keyboard_ ? c_dfDIKeyboard.dwDataSize : c_dfDIJoystick.dwDataSize;
    if (format->dwDataSize != want) return DIERR_INVALIDPARAM;
    format_ = format;
    return DI_OK;
  }

  HRESULT SetCooperativeLevel(HWND hwnd, DWORD flags) override {
    bool fg = (flags & DISCL_FOREGROUND) != 0, bg = (flags & DISCL_BACKGROUND) != 0;
    bool ex = (flags & DISCL_EXCLUSIVE) != 0, nx = (flags & DISCL_NONEXCLUSIVE) != 0;
    if (fg == bg || ex == nx) return DIERR_INVALIDPARAM;
    if (hwnd && !IsWindow(hwnd)) return DIERR_INVALIDPARAM;
    if (acquired_) return DIERR_ACQUIRED;
    hwnd_ = hwnd;
    coop_ = flags;
    return DI_OK;
  }

  HRESULT RunControlPanel(HWND, DWORD) override { return DI_OK; }

  HRESULT Poll() override {
    HRESULT hr = CheckReadable();
    return FAILED(hr) ? hr : DI_NOEFFECT;
  }

  // Called with the hub locked: a change this device sees.
  void Record(bool keyboard, int joystick, DWORD ofs, DWORD data, DWORD time, DWORD seq) {
    if (keyboard != keyboard_ || (!keyboard && joystick != joystick_) || !acquired_ || buffer_size_ == 0)
      return;
    if (records_.size() >= buffer_size_) {
      records_.pop_front();
      overflow_ = true;
    }
    records_.push_back({ofs, data, time, seq});
  }

 private:
  // Lets the host gather its pending events, then checks that the device is acquired and (in
  // the foreground level) that its window is still active; a device whose window lost the
  // foreground is unacquired and reports the loss.
  HRESULT CheckReadable() {
    host::Current().PollEvents();
    bool active = !(coop_ & DISCL_FOREGROUND) || WindowActive(hwnd_);
    std::lock_guard<std::mutex> l(TheHub().lock);
    if (!acquired_) return DIERR_NOTACQUIRED;
    if (!active) {
      acquired_ = false;
      records_.clear();
      return DIERR_INPUTLOST;
    }
    return DI_OK;
  }

  std::atomic<ULONG> refs_{1};
  const bool keyboard_;
  const int joystick_;
  const DIDATAFORMAT* format_ = nullptr;
  HWND hwnd_ = nullptr;
  DWORD coop_ = DISCL_NONEXCLUSIVE | DISCL_BACKGROUND;
  DWORD buffer_size_ = 0;
  bool acquired_ = false;
  bool overflow_ = false;
  std::deque<DIDEVICEOBJECTDATA> records_;
};

// Hands a change to every device (hub locked).
void Broadcast(Hub& h, bool keyboard, int joystick, DWORD ofs, DWORD data) {
  DWORD time = timeGetTime();
  DWORD seq = ++h.sequence;
  for (Device* d : h.devices) d->Record(keyboard, joystick, ofs, data, time, seq);
}

class DirectInput final : public IDirectInput7A {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirectInput7A) {
      AddRef();
      *object = this;
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  HRESULT EnumDevices(DWORD dev_type, LPDIENUMDEVICESCALLBACKA callback, void* context, DWORD) override {
    if (!callback) return DIERR_INVALIDPARAM;
    std::vector<DIDEVICEINSTANCEA> found;
    if (dev_type == 0 || dev_type == DIDEVTYPE_KEYBOARD) {
      DIDEVICEINSTANCEA d = {};
      d.dwSize = sizeof(d);
      d.guidInstance = GUID_SysKeyboard;
      d.guidProduct = GUID_SysKeyboard;
      d.dwDevType = DIDEVTYPE_KEYBOARD;
      std::strcpy(d.tszInstanceName, "Keyboard");
      std::strcpy(d.tszProductName, "Keyboard");
      found.push_back(d);
    }
    if (dev_type == 0 || dev_type == DIDEVTYPE_JOYSTICK) {
      Hub& h = TheHub();
      std::lock_guard<std::mutex> l(h.lock);
      for (const Joystick& j : h.joysticks) {
        DIDEVICEINSTANCEA d = {};
        d.dwSize = sizeof(d);
        d.guidInstance = InstanceGuid(j.id);
        d.guidProduct = ProductGuid(j.id);
        d.dwDevType = DIDEVTYPE_JOYSTICK;
        std::memcpy(d.tszInstanceName, j.name, sizeof(j.name));
        std::memcpy(d.tszProductName, j.name, sizeof(j.name));
        found.push_back(d);
      }
    }
    // The callback runs without the hub's lock: it may create devices.
    for (const DIDEVICEINSTANCEA& d : found) {
      if (callback(&d, context) == DIENUM_STOP) break;
    }
    return DI_OK;
  }

  HRESULT RunControlPanel(HWND, DWORD) override { return DI_OK; }

  HRESULT CreateDeviceEx(REFGUID instance, REFIID iid, void** device, LPUNKNOWN outer) override {
    if (!device) return DIERR_INVALIDPARAM;
    *device = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    if (iid != IID_IDirectInputDevice7A) return DIERR_NOINTERFACE;
    if (instance == GUID_SysKeyboard) {
      *device = static_cast<IDirectInputDevice7A*>(new Device(true, 0));
      return DI_OK;
    }
    int id = static_cast<int>(instance.Data1);
    if (!(instance == InstanceGuid(id))) return DIERR_DEVICENOTREG;
    {
      Hub& h = TheHub();
      std::lock_guard<std::mutex> l(h.lock);
      if (!FindJoystick(h, id)) return DIERR_DEVICENOTREG;
    }
    *device = static_cast<IDirectInputDevice7A*>(new Device(false, id));
    return DI_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// Cuts a cp932 name to at most max bytes without splitting a double-byte character.
void CopyName(char* out, const char* name, size_t max) {
  size_t i = 0;
  while (name && name[i]) {
    auto c = static_cast<unsigned char>(name[i]);
    bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    size_t len = lead && name[i + 1] ? 2 : 1;
    if (i + len > max) break;
    i += len;
  }
  std::memcpy(out, name, i);
  out[i] = 0;
}

}  // namespace

void HubKey(uint8_t dik, bool down) {
  Hub& h = TheHub();
  std::lock_guard<std::mutex> l(h.lock);
  BYTE v = down ? 0x80 : 0;
  if (h.keys[dik] == v) return;
  h.keys[dik] = v;
  Broadcast(h, true, 0, dik, v);
}

int HubAttachJoystick(const char* name, int axes, int buttons, int povs) {
  Hub& h = TheHub();
  std::lock_guard<std::mutex> l(h.lock);
  Joystick j;
  j.id = h.next_id++;
  CopyName(j.name, name, 263);
  j.axes = axes < 0 ? 0 : axes > 6 ? 6 : axes;
  j.buttons = buttons < 0 ? 0 : buttons > 32 ? 32 : buttons;
  j.povs = povs < 0 ? 0 : povs > 4 ? 4 : povs;
  LONG* axis = &j.state.lX;
  for (int i = 0; i < 6; ++i) axis[i] = i < j.axes ? 32767 : 0;
  for (DWORD& p : j.state.rgdwPOV) p = kPovCentred;
  h.joysticks.push_back(j);
  return j.id;
}

void HubDetachJoystick(int id) {
  Hub& h = TheHub();
  std::lock_guard<std::mutex> l(h.lock);
  std::erase_if(h.joysticks, [&](const Joystick& j) { return j.id == id; });
}

void HubJoystickAxis(int id, int axis, int32_t value) {
  Hub& h = TheHub();
  std::lock_guard<std::mutex> l(h.lock);
  Joystick* j = FindJoystick(h, id);
  if (!j || axis < 0 || axis >= j->axes) return;
  value = value < 0 ? 0 : value > 65535 ? 65535 : value;
  LONG* a = &j->state.lX + axis;
  if (*a == value) return;
  *a = value;
  Broadcast(h, false, id, static_cast<DWORD>(axis * 4), static_cast<DWORD>(value));
}

void HubJoystickButton(int id, int button, bool down) {
  Hub& h = TheHub();
  std::lock_guard<std::mutex> l(h.lock);
  Joystick* j = FindJoystick(h, id);
  if (!j || button < 0 || button >= j->buttons) return;
  BYTE v = down ? 0x80 : 0;
  if (j->state.rgbButtons[button] == v) return;
  j->state.rgbButtons[button] = v;
  Broadcast(h, false, id, static_cast<DWORD>(offsetof(DIJOYSTATE, rgbButtons) + button), v);
}

void HubJoystickPov(int id, int pov, uint32_t value) {
  Hub& h = TheHub();
  std::lock_guard<std::mutex> l(h.lock);
  Joystick* j = FindJoystick(h, id);
  if (!j || pov < 0 || pov >= j->povs) return;
  if (j->state.rgdwPOV[pov] == value) return;
  j->state.rgdwPOV[pov] = value;
  Broadcast(h, false, id, static_cast<DWORD>(offsetof(DIJOYSTATE, rgdwPOV) + 4 * pov), value);
}

void HubReset() {
  Hub& h = TheHub();
  std::lock_guard<std::mutex> l(h.lock);
  std::memset(h.keys, 0, sizeof(h.keys));
  h.joysticks.clear();
  h.state_reads = 0;
}

uint64_t HubStateReads() {
  return TheHub().state_reads.load(std::memory_order_relaxed);
}

}  // namespace orvane::dinput

extern "C" const DIDATAFORMAT c_dfDIKeyboard = {sizeof(DIDATAFORMAT), 16, 2, 256, 256, nullptr};
extern "C" const DIDATAFORMAT c_dfDIJoystick = {sizeof(DIDATAFORMAT), 16, 1, sizeof(DIJOYSTATE), 44, nullptr};

HRESULT DirectInputCreateEx(HINSTANCE, DWORD version, REFIID iid, void** object, LPUNKNOWN outer) {
  if (!object) return DIERR_INVALIDPARAM;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (version < 0x0700) return DIERR_OLDDIRECTINPUTVERSION;
  if (iid != IID_IDirectInput7A) return DIERR_NOINTERFACE;
  *object = static_cast<IDirectInput7A*>(new orvane::dinput::DirectInput);
  return DI_OK;
}
