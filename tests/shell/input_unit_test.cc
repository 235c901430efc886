// The Input unit over the DirectInput stand-in, fed by the headless host's input hub.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/dinput.h"
#include "platform/host.h"
#include "shell/cinputmanager.h"
#include "shell/cmainwindow.h"
#include "shell_fixture.h"
#include "vm/script_loader.h"

namespace {

using namespace orvane::dinput;

class InputUnitTest : public shell_test::ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    HubReset();
    ASSERT_TRUE(MainWindow().Create());
    orvane::host::HostFocusChanged(MainWindow().GetHandle(), true);
  }
  void TearDown() override {
    InputManager().Term();
    HubReset();
    ShellTest::TearDown();
  }
  static std::vector<std::pair<int, int>> Events(CInputDevice& d) {
    std::vector<std::pair<int, int>> out;
    int32_t slot = 0, kind = 0;
    while (d.GetEvent(&slot, &kind)) out.push_back({slot, kind});
    return out;
  }
  CInputManager& im = InputManager();
};

TEST_F(InputUnitTest, KeyboardPadDefaultsAndOppositeKeys) {
  ASSERT_TRUE(im.Init());
  EXPECT_FALSE(im.Init());  // DirectInput already made
  im.Pad().ResetKeyMap();
  ASSERT_EQ(im.GetDeviceCount(), 1);
  EXPECT_STREQ(im.GetDeviceName(0), "キーボード");
  EXPECT_STREQ(im.GetDeviceName(1), "");
  EXPECT_STREQ(im.GetDeviceName(-1), "");
  DRef<CInputDevice> kb = im.GetDevice(0);
  ASSERT_TRUE(kb);
  EXPECT_EQ(kb->button_count, 32u);
  EXPECT_FALSE(im.GetDevice(1));
  im.ClearKey();  // the first poll acquires the keyboard
  kb->Update();

  // Up and Down held: the higher code (Down) wins; Z and Escape are buttons 0 and 1.
  HubKey(DIK_UP, true);
  HubKey(DIK_DOWN, true);
  HubKey(DIK_Z, true);
  HubKey(DIK_ESCAPE, true);
  im.ClearKey();
  // Raw keys: events in order with their kinds, key states.
  EXPECT_TRUE(im.IsKeyDown(DIK_UP));
  EXPECT_FALSE(im.IsKeyDown(DIK_LEFT));
  EXPECT_FALSE(im.IsKeyDown(256));
  std::vector<std::pair<int, int>> keys;
  int32_t key = 0, kind = 0;
  while (im.GetKeyEvent(&key, &kind)) keys.push_back({key, kind});
  EXPECT_EQ(keys,
            (std::vector<std::pair<int, int>>{{DIK_UP, 1}, {DIK_DOWN, 1}, {DIK_Z, 1}, {DIK_ESCAPE, 1}}));
  EXPECT_FALSE(im.HasKeyEvent());

  kb->Update();
  EXPECT_FALSE(kb->GetSlotState(0));
  EXPECT_TRUE(kb->GetSlotState(1));
  EXPECT_TRUE(kb->GetSlotState(4));
  EXPECT_TRUE(kb->GetSlotState(5));
  EXPECT_FALSE(kb->GetSlotState(36));
  EXPECT_FALSE(kb->GetSlotState(-1));
  EXPECT_TRUE(kb->HasEvent());
  EXPECT_TRUE(kb->HasEvent());  // does not consume
  EXPECT_EQ(Events(*kb), (std::vector<std::pair<int, int>>{{1, 1}, {4, 1}, {5, 1}}));
  EXPECT_FALSE(kb->HasEvent());

  HubKey(DIK_DOWN, false);
  im.ClearKey();
  ASSERT_TRUE(im.GetKeyEvent(&key, &kind));
  EXPECT_EQ(key, DIK_DOWN);
  EXPECT_EQ(kind, 2);
  kb->Update();
  EXPECT_TRUE(kb->GetSlotState(0));
  EXPECT_EQ(Events(*kb), (std::vector<std::pair<int, int>>{{0, 1}, {1, 2}}));
}

TEST_F(InputUnitTest, KeyMapSetAndReset) {
  ASSERT_TRUE(im.Init());
  CKeyboardPad& pad = im.Pad();
  pad.ResetKeyMap();
  pad.SetKeyMap(DIK_A, 35);
  pad.SetKeyMap(DIK_Z, 36);  // refused: slot 36 cannot be set
  pad.SetKeyMap(256, 7);     // refused
  pad.SetKeyMap(DIK_X, -1);  // refused
  EXPECT_EQ(pad.KeyMap(DIK_A), 35);
  EXPECT_EQ(pad.KeyMap(DIK_Z), 4);
  EXPECT_EQ(pad.KeyMap(DIK_X), 5);
  DRef<CInputDevice> kb = im.GetDevice(0);
  HubKey(DIK_A, true);
  im.ClearKey();
  kb->Update();
  EXPECT_TRUE(kb->GetSlotState(35));
  ResetInputKeyMap();  // the engine-state reset
  EXPECT_EQ(pad.KeyMap(DIK_A), kSlotNone);
  im.ClearKey();
  kb->Update();
  EXPECT_FALSE(kb->GetSlotState(35));
  EXPECT_EQ(Events(*kb), (std::vector<std::pair<int, int>>{{35, 2}}));
}

TEST_F(InputUnitTest, UnitStepsAndTheEngineStateReset) {
  // The engine's table starts and stops the four units of input, files, nets and events.
  for (const EngineUnit& u : DefaultEngineUnits()) {
    for (const char* name : {"Input", "File", "Net", "Event"}) {
      if (std::strcmp(u.name, name) == 0) {
        EXPECT_TRUE(u.start && u.stop) << name;
      }
    }
  }
  ASSERT_TRUE(StartInputUnit());
  ASSERT_TRUE(InitVmUnit());  // the defaults: the keyboard device
  EXPECT_EQ(DefaultInputDevice().Get(), im.FindDevice(0).Get());
  im.Pad().SetKeyMap(DIK_A, 35);
  ResetEngineState();
  EXPECT_EQ(im.Pad().KeyMap(DIK_A), kSlotNone);
  EXPECT_EQ(im.Pad().KeyMap(DIK_UP), 0);
  TermVmUnit();
  StopInputUnit();
  EXPECT_FALSE(DefaultInputDevice());
  EXPECT_EQ(im.GetDeviceCount(), 0);
}

TEST_F(InputUnitTest, FocusLossReadsAllOff) {
  ASSERT_TRUE(im.Init());
  im.Pad().ResetKeyMap();
  DRef<CInputDevice> kb = im.GetDevice(0);
  HubKey(DIK_RIGHT, true);
  im.ClearKey();
  kb->Update();
  ASSERT_TRUE(kb->GetSlotState(3));
  Events(*kb);
  orvane::host::HostFocusChanged(MainWindow().GetHandle(), false);
  im.ClearKey();
  kb->Update();
  EXPECT_FALSE(kb->GetSlotState(3));
  EXPECT_EQ(Events(*kb), (std::vector<std::pair<int, int>>{{3, 2}}));
  EXPECT_FALSE(im.IsKeyDown(DIK_RIGHT));
  // Back in the foreground: the held key reads on again.
  orvane::host::HostFocusChanged(MainWindow().GetHandle(), true);
  im.ClearKey();
  kb->Update();
  EXPECT_TRUE(kb->GetSlotState(3));
}

TEST_F(InputUnitTest, JoystickSlotsThresholdsAndHeldButton) {
  int id = HubAttachJoystick("パッド", 2, 12, 1);
  HubJoystickButton(id, 2, true);  // held while the device opens
  ASSERT_TRUE(im.Init());
  ASSERT_EQ(im.GetDeviceCount(), 2);
  EXPECT_STREQ(im.GetDeviceName(1), "パッド");
  DRef<CInputDevice> js = im.GetDevice(1);
  ASSERT_TRUE(js);
  EXPECT_EQ(js->button_count, 12u);
  EXPECT_EQ(js->x_low, 21845);
  EXPECT_EQ(js->x_high, 43689);
  EXPECT_TRUE(js->GetSlotState(6));
  EXPECT_FALSE(js->HasEvent());  // the three updates at open swallowed it

  struct Case {
    int32_t x, y;
    std::vector<int> on;
  } cases[] = {
      {21845, 43689, {}},  // on the thresholds: off
      {21844, 32767, {2}}, {43690, 32767, {3}}, {32767, 0, {0}}, {32767, 65535, {1}},
  };
  for (const Case& c : cases) {
    HubJoystickAxis(id, 0, c.x);
    HubJoystickAxis(id, 1, c.y);
    js->Update();
    for (int s = 0; s < 4; ++s) {
      bool want = std::find(c.on.begin(), c.on.end(), s) != c.on.end();
      EXPECT_EQ(js->GetSlotState(s), want) << c.x << "," << c.y << " slot " << s;
    }
  }
  HubJoystickButton(id, 2, false);
  HubJoystickButton(id, 11, true);
  HubJoystickButton(id, 12, true);  // beyond the button count: ignored
  js->Update();
  EXPECT_FALSE(js->GetSlotState(6));
  EXPECT_TRUE(js->GetSlotState(15));
  // A detached joystick cannot be polled: its held slots go off.
  HubDetachJoystick(id);
  js->Update();
  EXPECT_FALSE(js->GetSlotState(15));
  std::vector<std::pair<int, int>> ev = Events(*js);
  EXPECT_EQ(ev, (std::vector<std::pair<int, int>>{{1, 2}, {15, 2}}));
}

TEST_F(InputUnitTest, MouseQueuesAndCursor) {
  ASSERT_TRUE(im.Init());
  // A full queue drops events, a late move too.
  im.PushMouseEvent(3, 1, 1);
  for (int i = 0; i < 70; ++i) im.PushMouseEvent(0, i, -i);
  im.PushMouseEvent(3, 9, 9);
  im.ClearMouse();
  uint32_t kind = 0;
  int32_t x = 0, y = 0, n = 0;
  ASSERT_TRUE(im.PopMouseEvent(&kind, &x, &y));
  EXPECT_EQ(kind, 3u);
  EXPECT_EQ(x, 1);
  while (im.PopMouseEvent(&kind, &x, &y)) ++n;
  EXPECT_EQ(n, 63);
  EXPECT_EQ(x, 62);
  EXPECT_FALSE(im.HasMouseEvent());
  EXPECT_FALSE(im.PopMouseEvent(&kind, &x, &y));
  // A burst of moves keeps its first place and its last position.
  for (int i = 1; i <= 5; ++i) im.PushMouseEvent(3, i, -i);
  im.PushMouseEvent(2, 7, 7);
  EXPECT_FALSE(im.HasMouseEvent());  // not before the next ClearMouse
  im.ClearMouse();
  ASSERT_TRUE(im.PopMouseEvent(&kind, &x, &y));
  EXPECT_EQ(kind, 3u);
  EXPECT_EQ(x, 5);
  EXPECT_EQ(y, -5);
  ASSERT_TRUE(im.PopMouseEvent(&kind, &x, &y));
  EXPECT_EQ(kind, 2u);
  EXPECT_FALSE(im.PopMouseEvent(&kind, &x, &y));
  orvane::host::HostCursorMoved(300, 200);
  POINT origin{0, 0};
  ClientToScreen(MainWindow().GetHandle(), &origin);
  im.GetMousePos(&x, &y);
  EXPECT_EQ(x, 300 - origin.x);
  EXPECT_EQ(y, 200 - origin.y);
}

}  // namespace

// ---- The DirectInput stand-in alone.

TEST(DinputTest, BufferOverflowDropsOldestAndRangeRules) {
  HubReset();
  void* obj = nullptr;
  ASSERT_EQ(DirectInputCreateEx(nullptr, 0x0700, IID_IDirectInput7A, &obj, nullptr), DI_OK);
  auto* di = static_cast<IDirectInput7A*>(obj);
  void* dev = nullptr;
  ASSERT_EQ(di->CreateDeviceEx(GUID_SysKeyboard, IID_IDirectInputDevice7A, &dev, nullptr), DI_OK);
  auto* kb = static_cast<IDirectInputDevice7A*>(dev);
  DIPROPDWORD size = {{sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), 0, DIPH_DEVICE}, 32};
  ASSERT_EQ(kb->SetProperty(DIPROP_BUFFERSIZE, &size.diph), DI_OK);
  ASSERT_EQ(kb->SetDataFormat(&c_dfDIKeyboard), DI_OK);
  BYTE state[256];
  EXPECT_EQ(kb->GetDeviceState(256, state), DIERR_NOTACQUIRED);
  ASSERT_EQ(kb->Acquire(), DI_OK);
  for (int i = 0; i < 40; ++i) HubKey(static_cast<uint8_t>(0x10 + i), true);
  DIDEVICEOBJECTDATA rec[64];
  DWORD n = 64;
  EXPECT_EQ(kb->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), rec, &n, 0), DI_BUFFEROVERFLOW);
  ASSERT_EQ(n, 32u);
  EXPECT_EQ(rec[0].dwOfs, 0x18u);  // the first 8 were dropped
  EXPECT_EQ(rec[31].dwOfs, 0x37u);
  EXPECT_LT(rec[0].dwSequence, rec[1].dwSequence);
  n = 64;
  EXPECT_EQ(kb->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), rec, &n, 0), DI_OK);
  EXPECT_EQ(n, 0u);
  ASSERT_EQ(kb->GetDeviceState(256, state), DI_OK);
  EXPECT_EQ(state[0x10], 0x80);
  kb->Release();

  int id = HubAttachJoystick("stick", 3, 4, 0);
  GUID g{};
  di->EnumDevices(
      DIDEVTYPE_JOYSTICK,
      [](LPCDIDEVICEINSTANCEA d, void* ctx) -> BOOL {
        *static_cast<GUID*>(ctx) = d->guidInstance;
        return DIENUM_CONTINUE;
      },
      &g, DIEDFL_ATTACHEDONLY);
  ASSERT_EQ(di->CreateDeviceEx(g, IID_IDirectInputDevice7A, &dev, nullptr), DI_OK);
  auto* js = static_cast<IDirectInputDevice7A*>(dev);
  DIPROPRANGE r = {{sizeof(DIPROPRANGE), sizeof(DIPROPHEADER), 8, DIPH_BYOFFSET}, 1, 1};
  EXPECT_EQ(js->GetProperty(DIPROP_RANGE, &r.diph), DI_OK);
  EXPECT_EQ(r.lMax, 65535);
  r.diph.dwObj = 12;  // Rx: the stick has three axes
  EXPECT_EQ(js->GetProperty(DIPROP_RANGE, &r.diph), DIERR_OBJECTNOTFOUND);
  js->Release();
  HubDetachJoystick(id);
  GUID unknown = g;
  EXPECT_EQ(di->CreateDeviceEx(unknown, IID_IDirectInputDevice7A, &dev, nullptr), DIERR_DEVICENOTREG);
  di->Release();
}

TEST(DinputTest, JoystickNameCutOnCharacterBoundary) {
  HubReset();
  std::string name(262, 'a');
  name += "\x83\x70";  // a double-byte character across the 263-byte limit
  HubAttachJoystick(name.c_str(), 2, 2, 0);
  void* obj = nullptr;
  ASSERT_EQ(DirectInputCreateEx(nullptr, 0x0700, IID_IDirectInput7A, &obj, nullptr), DI_OK);
  auto* di = static_cast<IDirectInput7A*>(obj);
  std::string got;
  di->EnumDevices(
      DIDEVTYPE_JOYSTICK,
      [](LPCDIDEVICEINSTANCEA d, void* ctx) -> BOOL {
        *static_cast<std::string*>(ctx) = d->tszInstanceName;
        return DIENUM_CONTINUE;
      },
      &got, 0);
  EXPECT_EQ(got, std::string(262, 'a'));
  di->Release();
  HubReset();
}
