// The Draw unit's screen: format detection, sizes, the present matrix in window and full screen,
// lost and busy surfaces, GDI use, messages and the image factories.
#include "display/draw/screen.h"

#include <gtest/gtest.h>

#include "imaging/hal/dhal.h"
#include "tests/display/screen_fixture.h"

namespace {

using orvane::dx::DisplayMode;

class ScreenTest : public ScreenFixture {
 protected:
  // A picture that differs per pixel and per call.
  void Pattern(int seed) {
    ScreenImage& im = screen_.GetScreenImage();
    for (int y = 0; y < im.GetHeight(); ++y)
      for (int x = 0; x < im.GetWidth(); ++x)
        im.PutPixel(x, y,
                    static_cast<std::uint16_t>(((x * 7 + y * 13 + seed * 101) * 2654435761u) >> 16) & 0xFFDF);
  }
  // The picture expected when only cell (1, 1) was copied from `now` over `old`.
  static std::vector<std::uint32_t> OneCell(const std::vector<std::uint32_t>& old,
                                            const std::vector<std::uint32_t>& now) {
    std::vector<std::uint32_t> out = old;
    for (int y = 24; y < 48; ++y)
      for (int x = 24; x < 48; ++x) out[std::size_t(y * 640 + x)] = now[std::size_t(y * 640 + x)];
    return out;
  }
  // Shows pattern 1 everywhere, then pattern 2 with only cell (1, 1) dirty.
  void TwoFrames(std::vector<std::uint32_t>* first, std::vector<std::uint32_t>* second) {
    Pattern(1);
    screen_.GetSpriteList().SetAllDirty();
    screen_.Present();
    *first = Back();
    Pattern(2);
    *second = Back();
    screen_.GetSpriteList().ClearDirty();
    screen_.GetSpriteList().MarkDirty(30, 30, 1, 1);
    orvane::dx::TakeCallLog();
    orvane::host::TakeTrace();
    screen_.Present();
  }
};

TEST_F(ScreenTest, FormatFromTheModeList) {
  struct Row {
    std::vector<DisplayMode> modes;
    bool fail_create;
    std::uint32_t format;
  } rows[] = {
      {{}, false, 6},
      {{{640, 480, 32, false}, {800, 600, 16, true}, {640, 480, 16, false}}, false, 4},
      {{{640, 480, 16, false}, {640, 480, 16, true}}, false, 6},
      {{{640, 480, 32, false}}, false, 6},
      {{{640, 480, 16, true}}, true, 6},
  };
  for (const Row& r : rows) {
    orvane::dx::DeviceProfile p;
    p.modes = r.modes;
    orvane::dx::SetProfile(p);
    if (r.fail_create) orvane::dx::FailCall("DirectDrawCreateEx");
    ASSERT_TRUE(screen_.Init(window_));
    EXPECT_EQ(screen_.GetPixelFormat(), r.format);
    EXPECT_EQ(screen_.GetScreenImage().GetFormat(), r.format);
    EXPECT_EQ(screen_.GetScreenImage().GetPixel(5, 5), 0);
    EXPECT_FALSE(screen_.Init(window_));
    EXPECT_TRUE(screen_.Shutdown());
    EXPECT_FALSE(screen_.Shutdown());
  }
  // The span library already held for another format: Init fails, no box.
  ASSERT_TRUE(DHalInit(6));
  orvane::dx::DeviceProfile p;
  p.modes = {{640, 480, 16, true}};
  orvane::dx::SetProfile(p);
  orvane::host::TakeTrace();
  EXPECT_FALSE(screen_.Init(window_));
  EXPECT_FALSE(Has(orvane::host::TakeTrace(), "messagebox"));
  DHalTerm();
  EXPECT_TRUE(screen_.Init(window_));
}

TEST_F(ScreenTest, SizesGrowTheDibOnly) {
  ASSERT_TRUE(screen_.Init(window_));
  EXPECT_EQ(screen_.GetDibSize().x, 640);
  screen_.GetSpriteList().ClearDirty();
  EXPECT_TRUE(screen_.SetSize(640, 480, true));
  for (int i = 0; i < 27 * 20; ++i) EXPECT_EQ(screen_.GetSpriteList().GetGrid()[i], 0);
  ASSERT_TRUE(screen_.SetSize(801, 600, true));
  EXPECT_EQ(screen_.GetDibSize().x, 801);
  EXPECT_EQ(screen_.GetSpriteList().GetColumns(), 34);
  RECT client;
  GetClientRect(window_.GetHandle(), &client);
  EXPECT_EQ(client.right, 801);
  ASSERT_TRUE(screen_.SetSize(320, 240, false));
  EXPECT_EQ(screen_.GetDibSize().x, 801);
  EXPECT_EQ(screen_.GetDibView().GetPitch(), 1604u);
  EXPECT_EQ(screen_.GetScreenImage().GetWidth(), 320);
  EXPECT_FALSE(screen_.SetSize(0, 10, false));
  EXPECT_FALSE(screen_.SetSize(-5, 10, false));
  EXPECT_FALSE(screen_.SetSize(40000, 40000, false));
  std::int32_t w, h;
  screen_.GetSize(&w, &h);
  EXPECT_EQ(w * 1000 + h, 320240);
  EXPECT_TRUE(screen_.CheckFullscreenSize(800, 600));
  EXPECT_FALSE(screen_.CheckFullscreenSize(801, 600));
}

TEST_F(ScreenTest, WindowPresents) {
  ASSERT_TRUE(screen_.Init(window_));
  std::vector<std::uint32_t> a, b;
  // Dirty runs only.
  TwoFrames(&a, &b);
  EXPECT_EQ(Shown(), OneCell(a, b));
  auto trace = orvane::host::TakeTrace();
  ASSERT_FALSE(trace.empty());
  EXPECT_NE(trace.back().find(" 24,24 24x24"), std::string::npos) << trace.back();
  // Flip-screen mode with no GDI use: the whole screen.
  screen_.SetFlipscreen(true);
  TwoFrames(&a, &b);
  EXPECT_EQ(Shown(), b);
  // ... but with GDI use above 0 the dirty runs again.
  screen_.UseGDI(true);
  TwoFrames(&a, &b);
  EXPECT_EQ(Shown(), OneCell(a, b));
  screen_.UseGDI(false);
  // The last column's runs are cut at the screen edge (27 x 24 = 648).
  screen_.SetFlipscreen(false);
  Pattern(3);
  screen_.GetSpriteList().SetAllDirty();
  screen_.Present();
  EXPECT_EQ(Shown(), Back());
  // Stretch: the grid is ignored and the source rectangle is scaled, nearest pixel.
  screen_.SetFlipMapping(true, 0, 0, 640, 480, 0, 0, 320, 240);
  screen_.GetSpriteList().ClearDirty();
  screen_.Present();
  std::vector<std::uint32_t> shown = Shown(), back = Back();
  for (int y = 0; y < 480; y += 7)
    for (int x = 0; x < 640; x += 5)
      ASSERT_EQ(shown[std::size_t(y * 640 + x)], back[std::size_t((y / 2) * 640 + x / 2)]);
  // A source rectangle past the back image reads nothing outside it.
  screen_.SetFlipMapping(true, 0, 0, 640, 480, 320, 240, 640, 480);
  screen_.Present();
}

TEST_F(ScreenTest, FullScreenPresents) {
  ASSERT_TRUE(screen_.Init(window_));
  orvane::dx::CapturePresents(true);
  ASSERT_TRUE(screen_.SetFullscreen(true));
  EXPECT_TRUE(screen_.IsFullscreen());
  EXPECT_TRUE(screen_.SetFullscreen(true));
  EXPECT_TRUE(Has(orvane::host::TakeTrace(), "fullscreen"));
  HWND hwnd = window_.GetHandle();
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)) & WS_CAPTION, 0u);
  orvane::dx::Capture cap;
  auto picture = [&] {
    EXPECT_TRUE(orvane::dx::TakeCapture(hwnd, &cap));
    std::vector<std::uint32_t> out;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) out.push_back(cap.pixels[std::size_t(y * cap.width + x)]);
    return out;
  };
  // Flip-screen off, no GDI: the dirty runs straight into the primary, no flip.
  std::vector<std::uint32_t> a, b;
  TwoFrames(&a, &b);
  auto log = orvane::dx::TakeCallLog();
  EXPECT_TRUE(Has(log, "GetDC #"));
  EXPECT_FALSE(Has(log, "Flip"));
  EXPECT_FALSE(Has(log, "Blt"));
  EXPECT_EQ(picture(), OneCell(a, b));
  // Flip-screen on: the whole screen into the back buffer, then a flip.
  screen_.SetFlipscreen(true);
  TwoFrames(&a, &b);
  log = orvane::dx::TakeCallLog();
  EXPECT_TRUE(Has(log, "GetBltStatus 0x2"));
  EXPECT_TRUE(Has(log, "Flip 0x20"));
  EXPECT_EQ(picture(), b);
  // GDI in use: dirty runs into the back buffer, blitted onto the primary.
  screen_.UseGDI(true);
  log = orvane::dx::TakeCallLog();
  EXPECT_TRUE(Has(log, "CreateClipper"));
  EXPECT_TRUE(Has(log, "SetHWnd"));
  EXPECT_TRUE(Has(log, "FlipToGDISurface"));
  TwoFrames(&a, &b);
  log = orvane::dx::TakeCallLog();
  EXPECT_FALSE(Has(log, "Flip 0x20"));
  EXPECT_TRUE(Has(log, "Blt #"));
  std::vector<std::uint32_t> shown = picture();
  for (int y = 24; y < 48; ++y)
    for (int x = 24; x < 48; ++x) ASSERT_EQ(shown[std::size_t(y * 640 + x)], b[std::size_t(y * 640 + x)]);
  // The clipper goes only at exactly 0.
  screen_.UseGDI(false);
  EXPECT_TRUE(Has(orvane::dx::TakeCallLog(), "SetClipper null"));
  screen_.UseGDI(false);
  EXPECT_EQ(screen_.GetGdiCount(), -1);
  screen_.UseGDI(true);
  log = orvane::dx::TakeCallLog();
  EXPECT_FALSE(Has(log, "SetClipper"));
  EXPECT_FALSE(Has(log, "CreateClipper"));
  // WM_SETCURSOR hides the cursor in full screen.
  EXPECT_EQ(SendMessageA(hwnd, WM_SETCURSOR, 0, 0), 1);
  // Stretch in full screen.
  screen_.SetFlipMapping(true, 0, 0, 640, 480, 0, 0, 320, 240);
  screen_.Present();
  shown = picture();
  std::vector<std::uint32_t> back = Back();
  for (int y = 0; y < 480; y += 9)
    for (int x = 0; x < 640; x += 7)
      ASSERT_EQ(shown[std::size_t(y * 640 + x)], back[std::size_t((y / 2) * 640 + x / 2)]);
  ASSERT_TRUE(screen_.SetFullscreen(false));
  EXPECT_FALSE(screen_.IsFullscreen());
  EXPECT_NE(static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)) & WS_CAPTION, 0u);
  EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
}

TEST_F(ScreenTest, LostAndBusySurfaces) {
  ASSERT_TRUE(screen_.Init(window_));
  orvane::dx::CapturePresents(true);
  ASSERT_TRUE(screen_.SetFullscreen(true));
  HWND hwnd = window_.GetHandle();
  orvane::dx::Capture cap;
  Pattern(1);
  screen_.GetSpriteList().SetAllDirty();
  orvane::dx::LoseSurfaces();
  screen_.Present();
  EXPECT_FALSE(orvane::dx::TakeCapture(hwnd, &cap) && cap.presents > 0);
  SendMessageA(hwnd, WM_PAINT, 0, 0);  // draws nothing either, and does not loop
  EXPECT_FALSE(orvane::dx::TakeCapture(hwnd, &cap) && cap.presents > 0);
  SendMessageA(hwnd, WM_ACTIVATEAPP, 1, 0);
  screen_.Present();
  ASSERT_TRUE(orvane::dx::TakeCapture(hwnd, &cap));
  EXPECT_EQ(cap.presents, 1);
  EXPECT_EQ(cap.pixels[100 * cap.width + 100], Back()[100 * 640 + 100]);
  // Busy a few times: retried; for ever: the frame is given up.
  orvane::dx::SetStillDrawing(3);
  screen_.Present();
  orvane::dx::TakeCapture(hwnd, &cap);
  EXPECT_EQ(cap.presents, 2);
  screen_.SetFlipscreen(true);
  orvane::dx::SetStillDrawing(5);
  screen_.Present();
  orvane::dx::TakeCapture(hwnd, &cap);
  EXPECT_EQ(cap.presents, 3);
  orvane::dx::LogCalls(false);
  orvane::dx::SetStillDrawing(-1);
  screen_.Present();
  orvane::dx::TakeCapture(hwnd, &cap);
  EXPECT_EQ(cap.presents, 3);
  orvane::dx::SetStillDrawing(0);
  orvane::dx::LogCalls(true);
}

TEST_F(ScreenTest, FailedFullScreenEntriesRestoreTheWindow) {
  ASSERT_TRUE(screen_.Init(window_));
  HWND hwnd = window_.GetHandle();
  const LONG style = GetWindowLongA(hwnd, GWL_STYLE);
  RECT before;
  GetWindowRect(hwnd, &before);
  for (const char* fault : {"DirectDrawCreateEx", "SetDisplayMode", "CreateSurface"}) {
    orvane::dx::FailCall(fault);
    EXPECT_FALSE(screen_.SetFullscreen(true)) << fault;
    EXPECT_FALSE(screen_.IsFullscreen());
    EXPECT_EQ(GetWindowLongA(hwnd, GWL_STYLE), style) << fault;
    RECT now;
    GetWindowRect(hwnd, &now);
    EXPECT_EQ(now.right - now.left, before.right - before.left) << fault;
    EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
  }
  // A size change in full screen re-enters it at the new size.
  ASSERT_TRUE(screen_.SetFullscreen(true));
  orvane::host::TakeTrace();
  ASSERT_TRUE(screen_.SetSize(800, 600, false));
  EXPECT_TRUE(screen_.IsFullscreen());
  EXPECT_TRUE(Has(orvane::host::TakeTrace(), "fullscreen"));
  // A size with no mode: the screen stays in window mode, the size is taken.
  EXPECT_TRUE(screen_.SetSize(700, 500, false));
  EXPECT_FALSE(screen_.IsFullscreen());
}

TEST_F(ScreenTest, WindowMessages) {
  ASSERT_TRUE(screen_.Init(window_));
  HWND hwnd = window_.GetHandle();
  EXPECT_EQ(SendMessageA(hwnd, WM_ERASEBKGND, 0, 0), 1);
  EXPECT_NE(SendMessageA(hwnd, WM_SETCURSOR, 0, 0), 1);  // window mode: passed on
  Pattern(4);
  InvalidateRect(hwnd, nullptr, FALSE);
  UpdateWindow(hwnd);
  EXPECT_EQ(Shown(), Back());
}

TEST_F(ScreenTest, Factories) {
  ASSERT_TRUE(screen_.Init(window_));
  DRef<DrawImage> a = screen_.CreateImage(30, 20);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->GetImage()->GetPitch(), 64u);
  EXPECT_EQ(a->GetFormat(), screen_.GetPixelFormat());
  DRef<DrawImage> movie = screen_.CreateMovieImage(8, 8);
  ASSERT_TRUE(movie);
  EXPECT_TRUE(movie->GetImage()->GetPixelPointer(0, 0) > movie->GetImage()->GetPixelPointer(0, 1));
  a->Fill(5);
  DRef<DrawImage> dup = screen_.DuplicateImage(a), copy = screen_.CopyImage(a);
  ASSERT_TRUE(dup && copy);
  EXPECT_FALSE(screen_.CopyImage(DRef<DrawImage>()));
  EXPECT_EQ(screen_.GetImageCount(), 4u);
  screen_.SetSpriteImageDraw(false);
  EXPECT_FALSE(copy->GetDraw());
  screen_.PushSpriteImageStatus();
  screen_.SetSpriteImageDraw(true);
  screen_.PopSpriteImageStatus();
  EXPECT_FALSE(copy->GetDraw());
  // Factories do not register in the sprite list.
  EXPECT_EQ(a->sprite_list_, nullptr);
  dup.Release();
  EXPECT_EQ(screen_.GetImageCount(), 3u);
  // Wipe maps at the screen's size.
  DImage pic;
  ASSERT_TRUE(pic.Create(4, 4, 0, DimgFormat::RGB888));
  DRef<WipeMap> map = screen_.LoadWipe(pic, 1);
  ASSERT_TRUE(map);
  EXPECT_EQ(map->width, 640u);
  EXPECT_FALSE(screen_.LoadWipe(pic, 3));
  // Images outlive the screen's shutdown.
  ASSERT_TRUE(screen_.Shutdown());
  a->Fill(1);
  EXPECT_EQ(a->GetPixel(0, 0), 1);
}

}  // namespace

namespace {

TEST_F(ScreenTest, WindowGoneFirstStillReleasesEverything) {
  auto screen = std::make_unique<Screen>();
  ASSERT_TRUE(screen->Init(window_));
  ASSERT_TRUE(screen->SetFullscreen(true));
  window_.Destroy();  // drops every listener
  EXPECT_FALSE(screen->Shutdown());
  screen.reset();
  EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
  EXPECT_EQ(DHalRefCount(), 0);
}

}  // namespace

namespace {

// A duplicate of the screen image shares its pixel view, which a size change regrows: planes
// made for the old size are then neither read nor written.
TEST_F(ScreenTest, DuplicateOfTheScreenSurvivesASizeChange) {
  ASSERT_TRUE(screen_.Init(window_));
  DRef<DrawImage> screen_ref;
  screen_ref.Attach(&screen_.GetScreenImage());
  DRef<DrawImage> dup = screen_.DuplicateImage(screen_ref);
  ASSERT_TRUE(dup);
  dup->EnableAlpha(true);
  dup->SetTrans(true, 0, 0, 0);
  dup->SetFastTrans(true);
  dup->SetBlend(3);
  dup->SetAlphaKey(5);
  ASSERT_TRUE(screen_.SetSize(800, 600, false));
  EXPECT_EQ(dup->GetWidth(), 800);
  DRef<DrawImage> target = screen_.CreateImage(800, 600);
  target->Fill(7);
  target->Blt(0, 0, 800, 600, *dup, 0, 0, 3);  // the old planes are too small: nothing drawn
  EXPECT_EQ(target->GetPixel(799, 599), 7);
  dup->ConvAlpha(0, 0, 800, 600, *target, 0, 0);
  dup->EnableAlpha(true);  // a plane of the new size
  dup->ConvAlpha(0, 0, 800, 600, *target, 0, 0);
  EXPECT_EQ(dup->GetAlphaPlane()[800 * 600 - 1], 7);
}

}  // namespace
