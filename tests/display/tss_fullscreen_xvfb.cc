// Under Xvfb: the TSS unit's full screen is the SDL window made desktop-sized (never a real mode
// change), and leaving it gives the window back.
#include <SDL.h>
#include <gtest/gtest.h>

#include "base/dapplication.h"
#include "base/dwindow.h"
#include "display/tss/dtss_manager.h"
#include "platform/ddraw_test.h"
#include "platform/host.h"

namespace {

TEST(TssFullscreen, OnAndOff) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  DSetApplication(&app);
  DWindow w;
  ASSERT_TRUE(w.Create("", "tss", WS_OVERLAPPEDWINDOW, 0, 0, 0, 100, 100));
  ASSERT_TRUE(w.SetClientSize(640, 480));
  w.Show(SW_SHOWNORMAL);
  auto* native = static_cast<SDL_Window*>(orvane::host::NativeWindow(w.GetHandle()));
  ASSERT_NE(native, nullptr);
  DtssManager tss;
  ASSERT_TRUE(tss.Create(w, 0x10));
  ASSERT_TRUE(tss.SetFullscreen(true));
  EXPECT_EQ(SDL_GetWindowFlags(native) & SDL_WINDOW_FULLSCREEN_DESKTOP, SDL_WINDOW_FULLSCREEN_DESKTOP);
  EXPECT_TRUE(tss.Render());
  tss.Present();
  ASSERT_TRUE(tss.SetFullscreen(false));
  EXPECT_EQ(SDL_GetWindowFlags(native) & SDL_WINDOW_FULLSCREEN, 0u);
  tss.Destroy();
  EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
  w.Destroy();
}

}  // namespace
