// Under Xvfb: what a window paints through DWindow::GetDC reaches the SDL window, pixel for
// pixel the same as its client surface.
#include <SDL.h>
#include <gtest/gtest.h>

#include "base/dapplication.h"
#include "base/ddc.h"
#include "base/dpump.h"
#include "base/dwindow.h"
#include "platform/client_surface.h"
#include "platform/host.h"

namespace {

// Paints a red square and a line of text whenever the window paints.
struct Painter : DMessageListener {
  int paints = 0;
  bool OnMessage(LRESULT*, DWindow* window, UINT message, WPARAM, LPARAM) override {
    if (message != WM_PAINT) return true;
    ++paints;
    DWindowDC dc;
    if (window->GetDC(dc)) {
      DBrush red;
      red.CreateSolid(RGB(255, 0, 0));
      DGdiObject old = dc.SelectObject(red);
      dc.PatBlt(10, 10, 40, 30, PATCOPY);
      dc.SelectObject(old);
      DFont font;
      font.CreateFixed(24, 400, "ＭＳ ゴシック");
      DGdiObject old_font = dc.SelectObject(font);
      dc.SetBkMode(TRANSPARENT);
      dc.SetTextColor(RGB(255, 255, 255));
      dc.TextOut(60, 10, "表示テスト", 0);
      dc.SelectObject(old_font);
    }
    window->Validate(nullptr);
    return true;
  }
};

TEST(SdlPresent, WindowPixelsReadBackFromTheSdlWindow) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  DSetApplication(&app);
  DWindow w;
  ASSERT_TRUE(w.Create("", "present", WS_OVERLAPPEDWINDOW, 0, 0, 0, 100, 100));
  ASSERT_TRUE(w.SetClientSize(200, 60));
  Painter painter;
  ASSERT_TRUE(painter.Attach(w));
  w.Show(SW_SHOWNORMAL);
  for (int i = 0; i < 50 && painter.paints == 0; ++i) {
    DPumpMessages();
    SDL_Delay(10);
  }
  ASSERT_GT(painter.paints, 0);
  auto* native = static_cast<SDL_Window*>(orvane::host::NativeWindow(w.GetHandle()));
  ASSERT_NE(native, nullptr);
  SDL_Renderer* renderer = SDL_GetRenderer(native);
  ASSERT_NE(renderer, nullptr);
  std::vector<Uint32> shown(200 * 60);
  SDL_Rect all{0, 0, 200, 60};
  ASSERT_EQ(SDL_RenderReadPixels(renderer, &all, SDL_PIXELFORMAT_RGB888, shown.data(), 200 * 4), 0)
      << SDL_GetError();
  ClientSurfaceView v{};
  ASSERT_TRUE(ClientSurfaceLock(w.GetHandle(), &v));
  ASSERT_EQ(v.width, 200);
  ASSERT_EQ(v.height, 60);
  int differ = 0, red = 0, white = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 200; ++x) {
      Uint32 s = v.pixels[y * (v.pitch / 4) + x] & 0xFFFFFF;
      differ += (shown[y * 200 + x] & 0xFFFFFF) != s;
      red += s == 0xFF0000;
      white += s == 0xFFFFFF;
    }
  }
  ClientSurfaceUnlock(w.GetHandle(), nullptr);
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(red, 40 * 30);
  EXPECT_GT(white, 50);  // the text
  painter.Detach();
  w.Destroy();
}

}  // namespace
