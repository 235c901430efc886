// Under Xvfb: a frame the TSS unit presents reads back from the SDL window equal to the captured
// picture; full screen is the SDL window made desktop-sized (never a real mode change), and
// leaving it gives the window back.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/dapplication.h"
#include "base/dwindow.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "imaging/dimage.h"
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
  orvane::dx::CapturePresents(true);
  DtssManager tss;
  ASSERT_TRUE(tss.Create(w, 0x00));
  DImage src;
  ASSERT_TRUE(src.Create(3, 2, 0, DimgFormat::BGRA8888));
  for (int i = 0; i < 6; ++i) {
    uint32_t v = 0x80000000u | (i * 0x2A1B0Fu);
    std::memcpy(src.GetPixelPointer(i % 3, i / 3), &v, 4);
  }
  DRef<DtssImage> img = tss.CreateImage(src, 0, 0);
  DRef<DtssSprite> sprite = tss.CreateSprite(img.Get(), 0);
  sprite->SetPos(100, 50);
  sprite->SetSize(300, 200);
  sprite->SetBlend(1);
  sprite->SetColorRGBA(3, 0.2f, 1, 0.5f, 1);
  sprite->SetDraw(true);
  ASSERT_TRUE(tss.Render());
  tss.Present();
  orvane::dx::Capture cap;
  ASSERT_TRUE(orvane::dx::TakeCapture(w.GetHandle(), &cap));
  ASSERT_EQ(cap.width, 640);
  SDL_Renderer* r = SDL_GetRenderer(native);
  ASSERT_NE(r, nullptr);
  std::vector<uint32_t> shown(640 * 480);
  ASSERT_EQ(SDL_RenderReadPixels(r, nullptr, SDL_PIXELFORMAT_RGB888, shown.data(), 640 * 4), 0);
  for (auto& p : shown) p &= 0xFFFFFF;
  EXPECT_EQ(shown, cap.pixels);
  EXPECT_NE(cap.pixels[150 * 640 + 250], 0u);
  ASSERT_TRUE(tss.SetFullscreen(true));
  EXPECT_EQ(SDL_GetWindowFlags(native) & SDL_WINDOW_FULLSCREEN_DESKTOP, SDL_WINDOW_FULLSCREEN_DESKTOP);
  EXPECT_TRUE(tss.Render());
  tss.Present();
  int lw = 0, lh = 0;
  SDL_RenderGetLogicalSize(r, &lw, &lh);
  EXPECT_EQ(lw, 640);  // the mode's picture scaled to the desktop
  EXPECT_EQ(lh, 480);
  ASSERT_TRUE(tss.SetFullscreen(false));
  EXPECT_EQ(SDL_GetWindowFlags(native) & SDL_WINDOW_FULLSCREEN, 0u);
  SDL_RenderGetLogicalSize(r, &lw, &lh);
  EXPECT_EQ(lw, 0);
  sprite.Release();
  img.Release();
  tss.Destroy();
  EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
  w.Destroy();
}

}  // namespace
