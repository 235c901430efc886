// Joysticks through the real SDL host: an SDL virtual joystick drives the DirectInput stand-in's
// axes, buttons and POV.
#include <SDL.h>
#include <gtest/gtest.h>

#include "base/dapplication.h"
#include "base/dpump.h"
#include "base/dwindow.h"
#include "platform/dinput.h"
#include "platform/host.h"

namespace {

TEST(SdlJoystick, VirtualJoystickDrivesAxesButtonsAndPov) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  DSetApplication(&app);
  DWindow w;
  ASSERT_TRUE(w.Create("", "joystick", WS_OVERLAPPEDWINDOW, 0, 0, 0, 100, 100));
  w.Show(SW_SHOWNORMAL);
  DPumpMessages();

  int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 2, 6, 1);
  ASSERT_GE(index, 0) << SDL_GetError();
  SDL_Joystick* v = SDL_JoystickOpen(index);
  ASSERT_NE(v, nullptr);

  void* obj = nullptr;
  ASSERT_EQ(DirectInputCreateEx(nullptr, 0x0700, IID_IDirectInput7A, &obj, nullptr), DI_OK);
  auto* di = static_cast<IDirectInput7A*>(obj);
  GUID g{};
  int found = 0;
  for (int i = 0; i < 50 && found == 0; ++i) {
    DPumpMessages();  // the host turns SDL's device-added event into an attached joystick
    found = 0;
    di->EnumDevices(
        DIDEVTYPE_JOYSTICK,
        [](LPCDIDEVICEINSTANCEA d, void* ctx) -> BOOL {
          *static_cast<GUID*>(ctx) = d->guidInstance;
          return DIENUM_CONTINUE;
        },
        &g, DIEDFL_ATTACHEDONLY);
    found = g.Data1 != 0;
    SDL_Delay(10);
  }
  ASSERT_TRUE(found);
  void* dev = nullptr;
  ASSERT_EQ(di->CreateDeviceEx(g, IID_IDirectInputDevice7A, &dev, nullptr), DI_OK);
  auto* js = static_cast<IDirectInputDevice7A*>(dev);
  ASSERT_EQ(js->SetDataFormat(&c_dfDIJoystick), DI_OK);
  ASSERT_EQ(js->SetCooperativeLevel(w.GetHandle(), DISCL_NONEXCLUSIVE | DISCL_BACKGROUND), DI_OK);
  DIDEVCAPS caps = {};
  caps.dwSize = sizeof(DIDEVCAPS);
  ASSERT_EQ(js->GetCapabilities(&caps), DI_OK);
  EXPECT_EQ(caps.dwButtons, 6u);
  EXPECT_EQ(caps.dwPOVs, 1u);
  ASSERT_EQ(js->Acquire(), DI_OK);

  SDL_JoystickSetVirtualAxis(v, 0, 32767);
  SDL_JoystickSetVirtualAxis(v, 1, -32768);
  SDL_JoystickSetVirtualButton(v, 3, SDL_PRESSED);
  SDL_JoystickSetVirtualHat(v, 0, SDL_HAT_RIGHT);
  DIJOYSTATE st = {};
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(js->GetDeviceState(sizeof(st), &st), DI_OK);  // a read lets the host gather events
    if (st.lX == 65535 && st.rgbButtons[3] == 0x80 && st.rgdwPOV[0] == 9000) break;
    SDL_Delay(10);
  }
  EXPECT_EQ(st.lX, 65535);
  EXPECT_EQ(st.lY, 0);
  EXPECT_EQ(st.rgbButtons[3], 0x80);
  EXPECT_EQ(st.rgbButtons[2], 0);
  EXPECT_EQ(st.rgdwPOV[0], 9000u);

  js->Release();
  di->Release();
  SDL_JoystickClose(v);
  SDL_JoystickDetachVirtual(index);
  w.Destroy();
  DSetApplication(nullptr);
}

}  // namespace
