// The Input unit: the input devices as 36 on/off slots each (four directions, 32 buttons) with
// change events, the raw keyboard, the cursor position and the mouse queues. Device 0 is the
// keyboard seen through a key map as a pad; devices 1 on are the joysticks attached at start-up.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "base/dref.h"
#include "base/dreflist.h"
#include "shell/dinput_devices.h"

inline constexpr int32_t kInputSlots = 36;
inline constexpr int32_t kSlotNone = 36;  // key map: the key feeds no slot

// The keyboard as a pad: mapped keys set the X and Y axes (-128 / +128) and the buttons.
class CKeyboardPad final : public DinputDevice {
 public:
  ~CKeyboardPad() override { Close(); }

  bool Open(DinputManager* manager, DWindow* owner);
  void Close() override { keyboard_.Release(); }
  uint32_t GetItemCount() override { return 32; }
  void Update() override;
  bool GetState(int32_t* value, int32_t item) override;

  void SetKeyMap(int32_t key, int32_t slot);
  void ResetKeyMap();
  int32_t KeyMap(int32_t key) const { return key_map_[key & 0xFF]; }
  DinputKeyboard* Keyboard() const { return keyboard_.Get(); }

 private:
  void Poll();

  DRef<DinputKeyboard> keyboard_;
  int32_t key_map_[256] = {};
  uint8_t stale_ = 1;
  DIJOYSTATE pad_ = {};
};

class CInputDevice : public DObject {
 public:
  bool Open(DinputManager* manager);
  void Update();
  bool GetSlotState(int32_t slot) const;
  bool GetEvent(int32_t* slot, int32_t* kind);
  bool HasEvent() const;

  DRef<DinputDevice> device;
  char name[264] = {};
  GUID instance = {};
  uint32_t button_count = 0;
  int32_t x_low = 0, x_high = 0, y_low = 0, y_high = 0;
  uint8_t state[kInputSlots] = {};
  uint8_t changed[kInputSlots] = {};
  int32_t event_cursor = 0;
};

class CInputManager : public DObject {
 public:
  ~CInputManager() override { Term(); }

  bool Init();
  void Term();

  int32_t GetDeviceCount() const { return static_cast<int32_t>(devices_.GetCount()); }
  DRef<CInputDevice> FindDevice(int32_t index);
  DRef<CInputDevice> GetDevice(int32_t index);
  const char* GetDeviceName(int32_t index);

  void ClearKey() { pad_.Update(); }
  bool HasKeyEvent();
  bool GetKeyEvent(int32_t* key, int32_t* kind);
  bool IsKeyDown(int32_t key);

  void GetMousePos(int32_t* x, int32_t* y);
  // The mouse queues are the engine's (shell/mouse_queue.h), which the main window fills.
  void PushMouseEvent(uint32_t kind, int32_t x, int32_t y);
  void ClearMouse();
  bool HasMouseEvent() const;
  bool PopMouseEvent(uint32_t* kind, int32_t* x, int32_t* y);

  CKeyboardPad& Pad() { return pad_; }
  DinputManager& Input() { return input_; }

 private:
  bool EnumDevices();

  DinputManager input_;
  CKeyboardPad pad_;
  DRefList<CInputDevice> devices_;
};

// The engine's Input unit.
CInputManager& InputManager();

// Unit steps: start-up and shutdown, the key-map part of the engine-state reset, and the keyboard
// device the script machine keeps as its current input device.
// StartInputUnit also puts the unit's part of the script machine's defaults in front of the hooks
// already installed: init_defaults makes the keyboard device (DefaultInputDevice), the engine-state
// reset restores the default key map, term_defaults drops the device. StopInputUnit takes them out.
bool StartInputUnit();
void StopInputUnit();
void ResetInputKeyMap();
// The keyboard device (entry 0) that the script machine's defaults hold; empty before them.
DRef<CInputDevice>& DefaultInputDevice();
