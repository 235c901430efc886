// Keys, mouse, input devices and event waits through the built-ins and the exports, on the
// headless host's input hub and the virtual clock.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "api/ov_api.h"
#include "base/dapplication.h"
#include "input_fixture.h"
#include "platform/dinput.h"
#include "platform/host.h"
#include "platform/mmsystem.h"
#include "platform/user.h"
#include "shell/ceventwaiter.h"
#include "shell/cinputmanager.h"
#include "shell/cmainwindow.h"
#include "shell/mouse_queue.h"
#include "vm/script_loader.h"

namespace {

enum : uint32_t {
  kGetInputCount = 50,
  kGetInputName = 51,
  kGetInputDevice = 52,
  kGetInputKeyboard = 53,
  kClearInput = 54,
  kGetInputState = 55,
  kGetInputEvent = 56,
  kMapInputKey = 57,
  kSetInput = 59,
  kGetKeyState = 60,
  kWaitEvent = 65,
  kGetMouse = 69,
  kClearKey = 83,
  kGetKeyEvent = 85,
  kClearMouse = 86,
  kWaitKeyEvent = 103,
  kWaitMouseEvent = 104,
  kWaitInputEvent = 142,
  kClearEvent = 145,
  kGetMousePos = 237,
  kSetMousePos = 265,
};

class InputBuiltins : public InputFrame {
 protected:
  void SetUp() override {
    InputFrame::SetUp();
    orvane::clock::UseVirtualClock(1000);
    CurrentObjects().input = DRef<void>::Convert(InputManager().GetDevice(0));
    InputManager().ClearKey();  // the first poll acquires the keyboard
    InputManager().IsKeyDown(0);
  }
  int32_t ResultInt() { return Result()->ToInt(); }
};

TEST_F(InputBuiltins, DevicesNamesAndTheMissingDeviceMessage) {
  Call(kGetInputCount);
  EXPECT_EQ(ResultInt(), 1);
  Int(1, 0);
  Call(kGetInputName, {1});
  EXPECT_EQ(ResultText(), "キーボード");
  Int(1, 5);
  Call(kGetInputName, {1});
  EXPECT_EQ(ResultText(), "");
  Call(kGetInputKeyboard);
  EXPECT_EQ(Result()->type(), kScriptInputDevice);
  Int(1, 3);
  Call(kGetInputDevice, {1});
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].text.find("デバイスを取得できません。\n3 番目のデバイスは存在しません。"),
            std::string::npos)
      << Boxes()[0].text;
  // SetInput with an int: the selection is dropped, then the type error.
  Boxes().clear();
  Int(1, 7);
  Call(kSetInput, {1});
  EXPECT_FALSE(CurrentObjects().input);
  Call(kWaitInputEvent, {1});
  EXPECT_EQ(EventWaiter().InputCount(), 0u);
}

TEST_F(InputBuiltins, KeysChangeOnlyOnRefreshAndOutsKeepTheirValues) {
  orvane::dinput::HubKey(DIK_RETURN, true);
  Int(1, DIK_RETURN);
  Call(kGetKeyState, {1});
  EXPECT_EQ(ResultInt(), 0);  // not refreshed yet
  Call(kClearKey);
  Call(kGetKeyState, {1});
  EXPECT_EQ(ResultInt(), 1);
  for (int32_t k : {-1, 256, 0x7FFFFFFF}) {
    Int(1, k);
    Call(kGetKeyState, {1});
    EXPECT_EQ(ResultInt(), 0) << k;
  }
  Int(2, 99);
  Int(3, 98);
  Call(kGetKeyEvent, {2, 3});
  EXPECT_EQ(ResultInt(), 1);
  EXPECT_EQ(Slot(2)->ToInt(), DIK_RETURN);
  EXPECT_EQ(Slot(3)->ToInt(), 1);
  Int(2, 99);
  Int(3, 98);
  Call(kGetKeyEvent, {2, 3});
  EXPECT_EQ(ResultInt(), 0);
  EXPECT_EQ(Slot(2)->ToInt(), 99);
  EXPECT_EQ(Slot(3)->ToInt(), 98);
  orvane::dinput::HubKey(DIK_RETURN, false);
  Int(1, DIK_RETURN);
  Call(kGetKeyState, {1});
  EXPECT_EQ(ResultInt(), 1);  // still the last refresh
}

TEST_F(InputBuiltins, KeyMapAndPadEvents) {
  // (key, slot): only 0 <= key < 256 and 0 <= slot < 36 change the map.
  const struct {
    int32_t key, slot;
    int32_t expect_key, expect;
  } cases[] = {
      {0x1C, 36, 0x1C, 4}, {0x1E, 4, 0x1E, 4}, {-1, 4, 0xFF, 36}, {256, 4, 0, 36}, {0x1F, -1, 0x1F, 36}};
  for (const auto& c : cases) {
    Int(1, c.key);
    Int(2, c.slot);
    Call(kMapInputKey, {1, 2});
    EXPECT_EQ(InputManager().Pad().KeyMap(c.expect_key), c.expect) << c.key << " " << c.slot;
  }
  orvane::dinput::HubKey(0x1E, true);  // A, now button 0
  orvane::dinput::HubKey(DIK_UP, true);
  orvane::dinput::HubKey(DIK_DOWN, true);
  Call(kClearKey);
  Call(kClearInput);
  for (int32_t slot : {0, 1, 4, 36, -1}) {
    Int(1, slot);
    Call(kGetInputState, {1});
    EXPECT_EQ(ResultInt(), slot == 1 || slot == 4 ? 1 : 0) << slot;
  }
  std::vector<std::pair<int, int>> events;
  for (;;) {
    Call(kGetInputEvent, {2, 3});
    if (ResultInt() == 0) break;
    events.push_back({Slot(2)->ToInt(), Slot(3)->ToInt()});
  }
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{1, 1}, {4, 1}}));

  // Down goes off and Left and Right come on (the higher code, Right, wins): one event per slot
  // that changed, in slot order.
  orvane::dinput::HubKey(DIK_UP, false);
  orvane::dinput::HubKey(DIK_DOWN, false);
  orvane::dinput::HubKey(DIK_LEFT, true);
  orvane::dinput::HubKey(DIK_RIGHT, true);
  Call(kClearKey);
  Call(kClearInput);
  events.clear();
  for (;;) {
    Call(kGetInputEvent, {2, 3});
    if (ResultInt() == 0) break;
    events.push_back({Slot(2)->ToInt(), Slot(3)->ToInt()});
  }
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{1, 2}, {3, 1}}));
}

TEST_F(InputBuiltins, AKeyBatchHoldsTheLast32EventsAndARefreshDropsTheUnread) {
  for (int i = 0; i < 40; ++i) orvane::dinput::HubKey(static_cast<uint8_t>(0x10 + i), true);
  Call(kClearKey);
  std::vector<int> keys;
  for (;;) {
    Call(kGetKeyEvent, {2, 3});
    if (ResultInt() == 0) break;
    EXPECT_EQ(Slot(3)->ToInt(), 1);
    keys.push_back(Slot(2)->ToInt());
  }
  std::vector<int> last32;
  for (int k = 0x18; k < 0x38; ++k) last32.push_back(k);
  EXPECT_EQ(keys, last32);
  Int(1, 0x10);
  Call(kGetKeyState, {1});
  EXPECT_EQ(ResultInt(), 1);  // the state holds every key, the batch only the last 32 events

  // Two releases; one event read, then a refresh: the second is gone with the old batch.
  orvane::dinput::HubKey(0x20, false);
  orvane::dinput::HubKey(0x21, false);
  Call(kClearKey);
  Call(kGetKeyEvent, {2, 3});
  ASSERT_EQ(ResultInt(), 1);
  EXPECT_EQ(Slot(2)->ToInt(), 0x20);
  EXPECT_EQ(Slot(3)->ToInt(), 2);
  Call(kClearKey);
  Call(kGetKeyEvent, {2, 3});
  EXPECT_EQ(ResultInt(), 0);
}

TEST_F(InputBuiltins, MouseSnapshotAndCursorRoundTrip) {
  EngineMouseQueues().PushMouseEvent(0, 5, 6);
  EngineMouseQueues().PushMouseEvent(3, 7, 8);
  EngineMouseQueues().PushMouseEvent(3, 9, 10);
  Call(kClearMouse);
  std::vector<std::array<int, 3>> got;
  Int(1, -5);
  for (;;) {
    Call(kGetMouse, {1, 2, 3});
    if (ResultInt() == 0) break;
    got.push_back({Slot(1)->ToInt(), Slot(2)->ToInt(), Slot(3)->ToInt()});
  }
  EXPECT_EQ(got, (std::vector<std::array<int, 3>>{{0, 5, 6}, {3, 9, 10}}));
  EXPECT_EQ(Slot(1)->ToInt(), 3);  // kept on false
  Call(kClearMouse);
  Call(kGetMouse, {1, 2, 3});
  EXPECT_EQ(ResultInt(), 0);

  // The queue holds 64 events: a 65th before ClearMouse is lost.
  for (int i = 0; i < 65; ++i) EngineMouseQueues().PushMouseEvent(0, i, 0);
  Call(kClearMouse);
  int taken = 0;
  for (;;) {
    Call(kGetMouse, {1, 2, 3});
    if (ResultInt() == 0) break;
    EXPECT_EQ(Slot(2)->ToInt(), taken++);
  }
  EXPECT_EQ(taken, 64);

  // Cursor in client coordinates, whatever the window's place on the screen.
  HWND w = MainWindow().GetHandle();
  SetWindowPos(w, nullptr, 120, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Int(1, 33);
  Int(2, 44);
  Call(kSetMousePos, {1, 2});
  POINT screen{};
  GetCursorPos(&screen);
  POINT client{33, 44};
  ClientToScreen(w, &client);
  EXPECT_EQ(screen.x, client.x);
  EXPECT_EQ(screen.y, client.y);
  Call(kGetMousePos, {3, 4});
  EXPECT_EQ(Slot(3)->ToInt(), 33);
  EXPECT_EQ(Slot(4)->ToInt(), 44);
}

TEST_F(InputBuiltins, WaitsWakeOnKeysAndClearEventResetsTheFlags) {
  Int(1, 0);
  const DWORD t0 = timeGetTime();
  Call(kWaitEvent, {1});
  EXPECT_EQ(ResultInt(), 0);
  EXPECT_EQ(timeGetTime(), t0);  // one pass, no waiting on the virtual clock
  Int(1, 1);
  Call(kWaitKeyEvent, {1});
  Call(kWaitMouseEvent, {1});
  EXPECT_EQ(EventWaiter().Flags(),
            CEventWaiter::kRebuild | CEventWaiter::kWaitKey | CEventWaiter::kWaitMouse);
  Call(kGetInputKeyboard);
  Slot(5)->SetInt(0);
  ScriptValue::Assign(*Result(), Slot(5));
  Call(kWaitInputEvent, {5});
  Call(kWaitInputEvent, {5});
  EXPECT_EQ(EventWaiter().InputCount(), 1u);
  orvane::dinput::HubKey(DIK_SPACE, true);
  Int(1, 100);
  Call(kWaitEvent, {1});
  EXPECT_EQ(ResultInt(), 1);
  Call(kClearEvent);
  EXPECT_EQ(EventWaiter().Flags(), 1u);
  EXPECT_EQ(EventWaiter().InputCount(), 0u);
}

TEST_F(InputBuiltins, ExportsRefuseNullsAndOtherKinds) {
  char name[16];
  const struct {
    uint32_t size;
    const char* expect;
  } sizes[] = {{1, ""}, {4, "\x83L\x81"}, {16, nullptr}};
  for (const auto& s : sizes) {
    std::memset(name, 'x', sizeof name);
    ovGetInputName(name, s.size, 0);
    if (s.expect)
      EXPECT_STREQ(name, s.expect) << s.size;
    else
      EXPECT_STREQ(name, InputManager().GetDeviceName(0));
  }
  std::memset(name, 'x', sizeof name);
  ovGetInputName(name, 0, 0);
  EXPECT_EQ(name[0], 'x');
  ovGetInputName(nullptr, 8, 0);  // nothing written, no crash

  EXPECT_EQ(ovGetInputDevice(1), nullptr);
  ApiHandle* kb = ovGetInputKeyboard();
  ASSERT_NE(kb, nullptr);
  ovClearKey();  // opening the device again: the first poll acquires the keyboard
  ovGetKeyState(0);
  orvane::dinput::HubKey(DIK_RIGHT, true);
  ovClearKey();
  int32_t key = 7, state = -1;
  EXPECT_EQ(ovGetKeyEvent(&key, nullptr), 0);
  EXPECT_EQ(ovGetKeyEvent(&key, &state), 1);
  EXPECT_EQ(key, DIK_RIGHT);
  EXPECT_EQ(ovGetKeyState(DIK_RIGHT), 1);
  ovClearInput(kb);
  EXPECT_EQ(ovGetInputState(kb, 3), 1);
  EXPECT_EQ(ovGetInputState(kb, 36), 0);
  int32_t slot = -1;
  EXPECT_EQ(ovGetInputEvent(nullptr, &state, kb), 0);
  EXPECT_EQ(ovGetInputEvent(&slot, &state, kb), 1);
  EXPECT_EQ(slot, 3);
  EXPECT_EQ(state, 1);

  // A handle of another kind: refused, failure values.
  ApiHandle* other = NewApiHandle(kScriptTextInfo, DRef<void>::Convert(InputManager().GetDevice(0)));
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(ovGetInputState(other, 3), 0);
  EXPECT_EQ(ovGetInputEvent(&slot, &state, other), 0);
  ovWaitInputEvent(other);
  EXPECT_EQ(EventWaiter().InputCount(), 0u);
  DestroyApiHandle(other, kScriptTextInfo, "test");

  EXPECT_EQ(ovGetMouse(nullptr, nullptr, nullptr), 0);
  ovGetMousePos(nullptr, nullptr);
  ovWaitInputEvent(kb);
  EXPECT_EQ(EventWaiter().InputCount(), 1u);
  ovClearEvent();
  EXPECT_EQ(EventWaiter().Flags(), 1u);
  EXPECT_EQ(ovWaitEvent(0), 0);
  ovDestroyInput(kb);
}

TEST_F(InputBuiltins, WaitsAcrossTheClockWrapAndEndlessWaitsEndWithExit) {
  orvane::clock::UseVirtualClock(0xFFFFFFFFu - 499);
  const DWORD t0 = timeGetTime();
  Int(1, 1000);
  Call(kWaitEvent, {1});
  EXPECT_EQ(ResultInt(), 0);
  EXPECT_EQ(timeGetTime() - t0, 1000u);  // neither early at the wrap nor endless

  // Exit asked while a timer is pending: the endless wait ends with true.
  SetTimer(MainWindow().GetHandle(), 79, 100, [](HWND h, UINT, UINT_PTR id, DWORD) {
    KillTimer(h, id);
    ovExit();
  });
  Int(1, -1);
  Call(kWaitEvent, {1});
  EXPECT_EQ(ResultInt(), 1);
  EXPECT_EQ(ovIsExit(), 1);
}

// An attached joystick through the built-ins: its name and slots, and event waits woken by a
// watched joystick's button and by its detaching, after which its held slots read off.
TEST_F(InputBuiltins, AJoysticksNameSlotsAndWakes) {
  ClearCurrentObjects();
  InputManager().Term();
  static int id;
  id = orvane::dinput::HubAttachJoystick("パッド", 2, 12, 0);
  ASSERT_TRUE(InputManager().Init());
  Call(kGetInputCount);
  EXPECT_EQ(ResultInt(), 2);
  Int(1, 1);
  Call(kGetInputName, {1});
  EXPECT_EQ(ResultText(), "パッド");
  char name[16];
  ovGetInputName(name, sizeof name, 1);
  EXPECT_STREQ(name, "パッド");
  Int(1, 1);
  Call(kGetInputDevice, {1});
  ASSERT_EQ(Result()->type(), kScriptInputDevice);
  Slot(5)->SetInt(0);
  ScriptValue::Assign(*Result(), Slot(5));
  Call(kSetInput, {5});

  // X at its minimum is left (slot 2); button 3 is slot 7.
  orvane::dinput::HubJoystickAxis(id, 0, 0);
  orvane::dinput::HubJoystickButton(id, 3, true);
  Call(kClearInput);
  auto on_slots = [&] {
    std::vector<int> on;
    for (int32_t slot = 0; slot < 36; ++slot) {
      Int(1, slot);
      Call(kGetInputState, {1});
      if (ResultInt()) on.push_back(slot);
    }
    return on;
  };
  auto events = [&] {
    std::vector<std::pair<int, int>> out;
    for (;;) {
      Call(kGetInputEvent, {2, 3});
      if (ResultInt() == 0) return out;
      out.push_back({Slot(2)->ToInt(), Slot(3)->ToInt()});
    }
  };
  EXPECT_EQ(on_slots(), (std::vector<int>{2, 7}));
  EXPECT_EQ(events(), (std::vector<std::pair<int, int>>{{2, 1}, {7, 1}}));

  // Watched: nothing changed, no wake. A message handled in the wait's first slice presses a
  // button, then detaches the joystick; each time the next pass sees the change and wakes the
  // wait, one slice in.
  Call(kWaitInputEvent, {5});
  Int(1, 0);
  Call(kWaitEvent, {1});
  EXPECT_EQ(ResultInt(), 0);
  WndProcHook change = [](LRESULT* result, HWND, UINT message, WPARAM wparam, LPARAM) -> BOOL {
    if (message != WM_USER + 60) return FALSE;
    if (wparam)
      orvane::dinput::HubDetachJoystick(id);
    else
      orvane::dinput::HubJoystickButton(id, 0, true);
    *result = 0;
    return TRUE;
  };
  MainWindow().AddWndProc(change);
  const struct {
    WPARAM detach;
    std::vector<std::pair<int, int>> events;
  } steps[] = {{0, {{4, 1}}}, {1, {{2, 2}, {4, 2}, {7, 2}}}};  // detached: every held slot goes off
  for (const auto& step : steps) {
    PostMessageA(MainWindow().GetHandle(), WM_USER + 60, step.detach, 0);
    const DWORD t0 = timeGetTime();
    Int(1, 10000);
    Call(kWaitEvent, {1});
    EXPECT_EQ(ResultInt(), 1) << step.detach;
    EXPECT_EQ(timeGetTime() - t0, CEventWaiter::kSliceMs) << step.detach;
    EXPECT_EQ(events(), step.events) << step.detach;
  }
  MainWindow().DelWndProc(change);
  EXPECT_EQ(on_slots(), std::vector<int>{});
}

TEST_F(InputBuiltins, ResetSelectsTheKeyboardPad) {
  InstallApiUnitHooks();
  DefaultInputDevice() = InputManager().FindDevice(0);
  ClearCurrentObjects();
  ResetEngineState();
  EXPECT_EQ(CurrentObjects().input.Get(), static_cast<void*>(DefaultInputDevice().Get()));
  DefaultInputDevice().Release();
}

}  // namespace
