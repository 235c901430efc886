// Under Xvfb: the SDL host opens one real window of the right client size, and its close box
// reaches a window listener as WM_CLOSE.
#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "base/dapplication.h"
#include "base/dpump.h"
#include "base/dwindow.h"
#include "platform/host.h"

namespace {

struct CloseListener : DMessageListener {
  int closes = 0;
  bool OnMessage(LRESULT* result, DWindow*, UINT message, WPARAM, LPARAM) override {
    if (message != WM_CLOSE) return true;
    ++closes;
    *result = 0;
    return false;  // handled: the window stays
  }
};

TEST(SdlWindow, OpensWithItsClientSizeAndDeliversClose) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  DSetApplication(&app);
  DWindow w;
  ASSERT_TRUE(w.Create("", "Orvane 表示", WS_OVERLAPPEDWINDOW, 0, 0, 0, 100, 100));
  ASSERT_TRUE(w.SetClientSize(640, 480));
  w.Show(SW_SHOWNORMAL);
  auto* native = static_cast<SDL_Window*>(orvane::host::NativeWindow(w.GetHandle()));
  ASSERT_NE(native, nullptr);
  int cw = 0, ch = 0;
  SDL_GetWindowSize(native, &cw, &ch);
  EXPECT_EQ(cw, 640);
  EXPECT_EQ(ch, 480);
  EXPECT_TRUE(SDL_GetWindowFlags(native) & SDL_WINDOW_SHOWN);

  CloseListener listener;
  ASSERT_TRUE(listener.Attach(w));
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = SDL_GetWindowID(native);
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  for (int i = 0; i < 50 && listener.closes == 0; ++i) {
    DPumpMessages();
    SDL_Delay(10);
  }
  EXPECT_EQ(listener.closes, 1);
  EXPECT_TRUE(w.IsWindow());
  w.Destroy();
  EXPECT_EQ(orvane::host::NativeWindow(w.GetHandle()), nullptr);
}

}  // namespace
