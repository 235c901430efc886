// Under Xvfb: the Draw-unit screen's presents reach the real SDL window, in a window and in full
// screen (a desktop-sized window scaling the mode's picture), and back.
#include <SDL.h>
#include <gtest/gtest.h>

#include <vector>

#include "base/dapplication.h"
#include "base/dpump.h"
#include "base/dwindow.h"
#include "display/draw/screen.h"
#include "platform/host.h"

namespace {

std::uint32_t Expand565(std::uint16_t p) {
  std::uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
  return (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | ((b << 3) | (b >> 2));
}

// The pixels the window's renderer shows, 0x00RRGGBB.
std::vector<std::uint32_t> ReadBack(SDL_Window* window, int* w, int* h) {
  std::vector<std::uint32_t> out;
  SDL_Renderer* r = SDL_GetRenderer(window);
  if (!r || SDL_GetRendererOutputSize(r, w, h) != 0) return out;
  out.resize(std::size_t(*w) * std::size_t(*h));
  SDL_Rect all{0, 0, *w, *h};
  SDL_RenderSetLogicalSize(r, 0, 0);  // read in output pixels
  if (SDL_RenderReadPixels(r, &all, SDL_PIXELFORMAT_RGB888, out.data(), *w * 4) != 0) out.clear();
  for (auto& p : out) p &= 0xFFFFFF;
  return out;
}

void Pump() {
  for (int i = 0; i < 5; ++i) {
    DPumpMessages();
    SDL_Delay(10);
  }
}

TEST(DrawScreenXvfb, PresentsReachTheWindowAndFullScreen) {
  ASSERT_STREQ(orvane::host::CurrentName(), "sdl");
  DApplication app;
  ASSERT_TRUE(app.Startup(GetModuleHandleA(nullptr), SW_SHOWNORMAL, nullptr));
  DSetApplication(&app);
  DWindow window;
  ASSERT_TRUE(window.Create("", "draw", WS_OVERLAPPEDWINDOW, 0, 0, 0, 100, 100));
  ASSERT_TRUE(window.SetClientSize(640, 480));
  window.Show(SW_SHOWNORMAL);
  Pump();
  Screen screen;
  ASSERT_TRUE(screen.Init(window));
  ScreenImage& im = screen.GetScreenImage();
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      im.PutPixel(x, y, static_cast<std::uint16_t>(((x / 8) << 11) | ((y / 8) << 6) | ((x + y) & 31)));
  screen.GetSpriteList().SetAllDirty();
  screen.Present();
  Pump();
  auto* native = static_cast<SDL_Window*>(orvane::host::NativeWindow(window.GetHandle()));
  ASSERT_NE(native, nullptr);
  int w = 0, h = 0;
  std::vector<std::uint32_t> shown = ReadBack(native, &w, &h);
  ASSERT_EQ(w, 640);
  ASSERT_EQ(h, 480);
  for (int y = 0; y < 480; y += 3)
    for (int x = 0; x < 640; x += 3)
      ASSERT_EQ(shown[std::size_t(y * w + x)], Expand565(im.GetPixel(x, y))) << x << "," << y;

  // Full screen: one colour fills the scaled picture.
  ASSERT_TRUE(screen.SetFullscreen(true));
  // The window takes the desktop's size when the X server says so; a present before that lands
  // in a surface the resize replaces.
  for (int i = 0; i < 100; ++i) {
    Pump();
    int ww = 0, wh = 0;
    SDL_GetWindowSize(native, &ww, &wh);
    if (ww > 640) break;
  }
  Pump();
  EXPECT_TRUE(SDL_GetWindowFlags(native) & SDL_WINDOW_FULLSCREEN_DESKTOP);
  im.Fill(0xF800);
  screen.GetSpriteList().SetAllDirty();
  screen.Present();
  Pump();
  SDL_Renderer* r = SDL_GetRenderer(native);
  ASSERT_NE(r, nullptr);
  shown = ReadBack(native, &w, &h);
  ASSERT_FALSE(shown.empty());
  EXPECT_GT(w, 640);
  EXPECT_EQ(shown[std::size_t((h / 2) * w + w / 2)], 0xFF0000u);

  // And back to a window of the screen's size.
  ASSERT_TRUE(screen.SetFullscreen(false));
  for (int i = 0; i < 100; ++i) {
    Pump();
    int ww = 0, wh = 0;
    SDL_GetWindowSize(native, &ww, &wh);
    if (ww == 640) break;
  }
  Pump();
  EXPECT_FALSE(SDL_GetWindowFlags(native) & SDL_WINDOW_FULLSCREEN_DESKTOP);
  im.Fill(0x001F);
  screen.GetSpriteList().SetAllDirty();
  screen.Present();
  Pump();
  shown = ReadBack(native, &w, &h);
  ASSERT_EQ(w, 640);
  EXPECT_EQ(shown[std::size_t(240 * w + 320)], 0x0000FFu);
  ASSERT_TRUE(screen.Shutdown());
  window.Destroy();
}

}  // namespace
