// Under Xvfb: a frame the TSS unit presents reads back from the SDL window equal to the captured
// picture; full screen is the SDL window made desktop-sized (never a real mode change), and
// leaving it gives the window back. A wipe transition runs in the window frame by frame.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/dapplication.h"
#include "base/dwindow.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "display/tss/dtss_wipe.h"
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
  // A transition in the window: the outgoing picture on mask A, the incoming one on mask B, the
  // level rising; each frame shows, pixel by pixel, the picture its pattern value selects.
  DImage pattern, blue, orange;
  ASSERT_TRUE(pattern.Create(32, 32, 0, DimgFormat::BGRA8888));
  ASSERT_TRUE(blue.Create(2, 2, 0, DimgFormat::BGRA8888));
  ASSERT_TRUE(orange.Create(2, 2, 0, DimgFormat::BGRA8888));
  auto g = [](int x, int y) { return static_cast<uint32_t>((x * 7 + y * 9) & 255); };
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      uint32_t v = 0xFF000000u | g(x, y) << 8;
      std::memcpy(pattern.GetPixelPointer(x, y), &v, 4);
    }
  for (int i = 0; i < 4; ++i) {
    uint32_t b = 0xFF0000FF, o = 0xFFFF8000;
    std::memcpy(blue.GetPixelPointer(i % 2, i / 2), &b, 4);
    std::memcpy(orange.GetPixelPointer(i % 2, i / 2), &o, 4);
  }
  sprite->SetDraw(false);
  tss.SetLinearMode(false);
  DRef<DtssWipe> wipe = tss.LoadWipe(pattern);
  ASSERT_TRUE(wipe);
  DRef<DtssImage> ib = tss.CreateImage(blue, 0, 0), io = tss.CreateImage(orange, 0, 0);
  DRef<DtssSprite> out = tss.CreateSprite(ib.Get(), 1), in = tss.CreateSprite(io.Get(), 2);
  for (DtssSprite* s : {out.Get(), in.Get()}) {
    s->SetSize(640, 480);
    s->SetBlend(1);
    s->SetDraw(true);
  }
  out->SetWipe(wipe.Get(), 0);
  in->SetWipe(wipe.Get(), 1);
  for (uint32_t level : {0u, 100u, 200u, 255u}) {
    SCOPED_TRACE(level);
    wipe->SetLevel(level);
    ASSERT_TRUE(tss.Render());
    tss.Present();
    ASSERT_TRUE(orvane::dx::TakeCapture(w.GetHandle(), &cap));
    int ow = 0, oh = 0;
    ASSERT_EQ(SDL_GetRendererOutputSize(r, &ow, &oh), 0);
    ASSERT_EQ(ow, 640);
    ASSERT_EQ(oh, 480);
    ASSERT_EQ(SDL_RenderReadPixels(r, nullptr, SDL_PIXELFORMAT_RGB888, shown.data(), 640 * 4), 0);
    for (auto& p : shown) p &= 0xFFFFFF;
    EXPECT_EQ(shown, cap.pixels);
    int wrong = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        const uint32_t v = g(x % 32, y % 32);
        // Blue where v >= level, then orange over it where v <= level: every pixel is one.
        wrong += cap.pixels[y * 640 + x] != (v <= level ? 0xFF8000u : 0x0000FFu);
      }
    EXPECT_EQ(wrong, 0);
  }
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
  out.Release();
  in.Release();
  ib.Release();
  io.Release();
  wipe.Release();
  sprite.Release();
  img.Release();
  tss.Destroy();
  EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
  w.Destroy();
}

}  // namespace
