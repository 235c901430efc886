// The DirectInput wrappers of the Input unit: DinputManager owns the DirectInput object and every
// device it made; DinputKeyboard and DinputJoystick put one device each behind DinputDevice.
// Devices read lazily: a read polls only when the cached state is stale, and a failed poll step
// re-acquires once and tries again.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "platform/dinput.h"

class DWindow;
class DinputManager;

// Joystick items: 0-5 the axes X, Y, Z, Rx, Ry, Rz; 6-37 buttons 0-31. Keyboard items: key codes.
class DinputDevice : public DObject {
 public:
  virtual void Close() = 0;
  virtual bool GetRange(int32_t* minimum, int32_t* maximum, int32_t item);
  virtual uint32_t GetItemCount() = 0;
  virtual void RunControlPanel(DWindow* owner);
  // Polls when the state is stale, then marks it stale again for the next read.
  virtual void Update() = 0;
  virtual bool IsOn(int32_t item);
  virtual bool GetState(int32_t* value, int32_t item) = 0;
  virtual bool GetEvent(int32_t* item, uint32_t* data);
  virtual bool HasEvent();
};

// What the keyboard and the joystick share: the device, its capabilities, the stale flag and the
// buffer of the last poll.
class DinputPolledDevice : public DinputDevice {
 public:
  ~DinputPolledDevice() override;
  void Close() override;
  void Update() override;

  // Sets up a freshly made wrapper (creation step 8).
  void Attach(DinputManager* owner, IDirectInputDevice7A* device, const DIDEVCAPS& caps);
  // Polls when stale; false when the device cannot be read.
  bool Poll();

 protected:
  virtual void* StateBuffer() = 0;
  virtual DWORD StateSize() const = 0;

  DinputManager* owner_ = nullptr;
  IDirectInputDevice7A* device_ = nullptr;
  DIDEVCAPS caps_ = {};
  uint8_t stale_ = 1;
  DIDEVICEOBJECTDATA buffer_[32] = {};
  uint32_t record_count_ = 0;
  uint32_t cursor_ = 0;
};

class DinputKeyboard final : public DinputPolledDevice {
 public:
  uint32_t GetItemCount() override { return 256; }
  bool GetState(int32_t* value, int32_t item) override;
  bool GetEvent(int32_t* item, uint32_t* data) override;
  bool HasEvent() override;

 protected:
  void* StateBuffer() override { return state_; }
  DWORD StateSize() const override { return sizeof(state_); }

 private:
  uint8_t state_[256] = {};
};

class DinputJoystick final : public DinputPolledDevice {
 public:
  bool GetRange(int32_t* minimum, int32_t* maximum, int32_t item) override;
  uint32_t GetItemCount() override;
  void RunControlPanel(DWindow* owner) override;
  bool GetState(int32_t* value, int32_t item) override;
  bool GetEvent(int32_t* item, uint32_t* data) override;
  bool HasEvent() override;

 protected:
  void* StateBuffer() override { return &state_; }
  DWORD StateSize() const override { return sizeof(state_); }

 private:
  DIJOYSTATE state_ = {};
};

// One enumerated joystick.
struct DinputJoystickInfo {
  GUID instance = {};
  GUID product = {};
  char name[264] = {};
};

class DinputManager : public DObject {
 public:
  ~DinputManager() override;

  bool Init();
  bool Shutdown();
  void ReleaseAll();
  void RemoveDevice(DinputDevice* device);
  bool EnumJoysticks(DRefList<DinputJoystickInfo>* list);
  DRef<DinputJoystick> CreateJoystick(DWindow* owner, const GUID& instance);
  DRef<DinputKeyboard> CreateKeyboard(DWindow* owner);
  void OpenControlPanel();

  bool HasDirectInput() const { return input_ != nullptr; }
  uint32_t DeviceCount() const { return devices_.GetCount(); }

 private:
  static BOOL EnumJoystickProc(LPCDIDEVICEINSTANCEA instance, void* context);
  bool CreateDevice(DWindow* owner, const GUID& instance, bool keyboard, IDirectInputDevice7A** device,
                    DIDEVCAPS* caps);

  IDirectInput7A* input_ = nullptr;
  DRefList<DinputDevice> devices_;
};
