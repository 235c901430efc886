// The TSS device: creation and its log line, the profile-driven choices, restore and reset,
// mode switches, GDI mode and the message hook.
#include "tss_fixture.h"

using namespace tss_test;
using orvane::dx::DeviceProfile;
using orvane::dx::TexFormat;

namespace {

class TssDevice : public Tss {};

TEST_F(TssDevice, SummaryLineAndFlagsForHardwareAndSoftwareDevices) {
  {
    LogCapture log;
    ASSERT_TRUE(Start(64, 48, 0x18));
    std::string text = log.Text();
    EXPECT_NE(text.find("[DtssManager::_CreateDisplaySurfaces]  Back format \"BGRA\". \n"), std::string::npos)
        << text;
    EXPECT_NE(
        text.find(
            "[DtssManager::_CreateD3D] created Direct3D(hard). Driver \"orvane-soft\", \"Orvane software "
            "rasterizer\" ver7.0.0.1. Res 64x48x32(window). Back format \"BGRA\". Tex format \"BGRA\". Tex "
            "size (1x1)-(4096x4096). Mov typeC. VRAM 268435456/268435456. \n"),
        std::string::npos)
        << text;
    EXPECT_EQ(manager_.GetFlags(), 0x18u);
    EXPECT_FALSE(Start());  // already created: refused, still running
    EXPECT_TRUE(manager_.IsCreated());
    manager_.Destroy();
  }
  LogCapture log;
  ASSERT_TRUE(Start(64, 48, 0x09));
  EXPECT_NE(log.Text().find("created Direct3D(softemu)"), std::string::npos);
  EXPECT_EQ(manager_.GetFlags(), 0x11u);  // 0x08 cleared, 0x10 set
  EXPECT_TRUE(manager_.IsMultitexture());
  manager_.Destroy();
  DeviceProfile one;
  one.max_textures = 1;
  orvane::dx::SetProfile(one);
  ASSERT_TRUE(Start());
  EXPECT_FALSE(manager_.IsMultitexture());
  EXPECT_TRUE(manager_.IsHardware());
}

TEST_F(TssDevice, ProfileTable) {
  struct Case {
    const char* name;
    int desktop;
    uint32_t flags;
    std::vector<TexFormat> formats;
    bool hal;
    bool ok;
    uint32_t depth_tex;  // texture format code
    const char* movie;   // expected "Mov type" letter or failure message
  } cases[] = {
      {"default", 0, 0, DeviceProfile{}.texture_formats, true, true, 2, "Mov typeC."},
      {"16-bit desktop", 16, 0, DeviceProfile{}.texture_formats, true, true, 5, "Mov typeC."},
      {"flag 16 on 32", 32, 0x02, DeviceProfile{}.texture_formats, true, true, 5, "Mov typeC."},
      {"24-bit desktop", 24, 0, DeviceProfile{}.texture_formats, true, true, 2, "Mov typeC."},
      {"only 8888 on 16", 16, 0, {TexFormat::kA8R8G8B8, TexFormat::kR5G6B5}, true, true, 2, "Mov typeD."},
      {"yuy2 wins",
       0,
       0,
       {TexFormat::kA8R8G8B8, TexFormat::kUYVY, TexFormat::kYUY2, TexFormat::kX8R8G8B8},
       true,
       true,
       2,
       "Mov typeA."},
      {"uyvy over rgb",
       0,
       0,
       {TexFormat::kA8R8G8B8, TexFormat::kX8R8G8B8, TexFormat::kUYVY},
       true,
       true,
       2,
       "Mov typeB."},
      {"later 16-bit wins",
       0,
       0,
       {TexFormat::kA8R8G8B8, TexFormat::kR5G6B5, TexFormat::kX1R5G5B5},
       true,
       true,
       2,
       "Mov typeE."},
      {"no movie format",
       0,
       0,
       {TexFormat::kA8R8G8B8},
       true,
       false,
       0,
       "[DtssManager::_CreateD3D] can't get mov formats.\n"},
      {"no texture format",
       0,
       0,
       {TexFormat::kX8R8G8B8},
       true,
       false,
       0,
       "[DtssManager::_CreateD3D] can't get tex formats.\n"},
      {"palette desktop", 8, 0, DeviceProfile{}.texture_formats, true, false, 0,
       "[DtssManager::_CreateD3D] Can't run in palette mode.\n"},
      {"no hal", 0, 0, DeviceProfile{}.texture_formats, false, true, 2, "created Direct3D(softemu)"},
  };
  for (const Case& c : cases) {
    DeviceProfile p;
    p.desktop_depth = c.desktop;
    p.texture_formats = c.formats;
    p.hal = c.hal;
    orvane::dx::SetProfile(p);
    LogCapture log;
    EXPECT_EQ(Start(32, 32, c.flags), c.ok) << c.name;
    EXPECT_NE(log.Text().find(c.movie), std::string::npos) << c.name << "\n" << log.Text();
    if (c.ok) {
      EXPECT_EQ(manager_.GetTextureFormat(), c.depth_tex) << c.name;
    }
    manager_.Destroy();
    EXPECT_EQ(orvane::dx::LiveSurfaces(), 0) << c.name;
  }
}

TEST_F(TssDevice, CreationStepFailuresLogAndReleaseEverything) {
  struct Case {
    const char* call;
    const char* message;
  } cases[] = {
      {"DirectDrawCreateEx", "[DtssManager::_CreateD3D] can't create DDraw7.\n"},
      {"QueryInterface IDirect3D7", "[DtssManager::_CreateD3D] can't create D3D7.\n"},
      {"SetCooperativeLevel 0x80e", "[DtssManager::_SetExclusive] can't set cooperative level(normal).\n"},
      {"CreateSurface 0x200", "[DtssManager::_CreateDisplaySurfaces] can't create a primary surface.\n"},
      {"CreateClipper", "[DtssManager::_CreateDisplaySurfaces] can't create a clipper.\n"},
      {"CreateSurface 0x2040", "[DtssManager::_CreateDisplaySurfaces] can't create a back buffer.\n"},
      {"GetPixelFormat", "[DtssManager::_CreateDisplaySurfaces] can't get back formats.\n"},
      {"GetCaps", "[DtssManager::_CreateD3D] can't get ddraw caps.\n"},
      {"CreateDevice", "[DtssManager::_CreateDevice] can't create D3D Device.\n"},
      {"GetCaps device", "[DtssManager::_CreateD3D] can't get D3D Device descs.\n"},
      {"EnumTextureFormats", "[DtssManager::_CreateD3D] can't get tex formats.\n"},
  };
  for (const Case& c : cases) {
    orvane::dx::Reset();
    orvane::dx::FailCall(c.call);
    LogCapture log;
    EXPECT_FALSE(Start()) << c.call;
    EXPECT_NE(log.Text().find(c.message), std::string::npos) << c.call << "\n" << log.Text();
    EXPECT_FALSE(manager_.IsCreated());
    EXPECT_EQ(orvane::dx::LiveSurfaces(), 0) << c.call;
  }
}

TEST_F(TssDevice, LostSurfacesRestoreResetAndRecover) {
  ASSERT_TRUE(Start(8, 8));
  DRef<DtssImage> image = Image(8, 8, 0xFF336699);
  DRef<DtssSprite> sprite = manager_.CreateSprite(image.Get(), 0);
  sprite->SetDraw(true);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[0], 0x336699u);
  // Lost, restored in place: the texture is uploaded again.
  orvane::dx::LoseSurfaces();
  orvane::dx::TakeCallLog();
  ASSERT_TRUE(manager_.Render());
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  EXPECT_GE(CountPrefix(log, "Restore"), 2);
  EXPECT_EQ(CountPrefix(log, "CreateDevice"), 0);
  EXPECT_GE(CountPrefix(log, "Blt"), 1);  // the upload
  // Restore fails: the surfaces and the device are made anew.
  orvane::dx::LoseSurfaces();
  orvane::dx::SetRestoreFails(true);
  ASSERT_TRUE(manager_.Render());
  log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "CreateDevice"), 1);
  EXPECT_EQ(Back()[0], 0x336699u);
  // The reset fails too: nothing drawn, true; the next render recovers.
  orvane::dx::LoseSurfaces();
  orvane::dx::FailCall("CreateSurface 0x2040");
  EXPECT_TRUE(manager_.Render());
  EXPECT_EQ(manager_.GetBackBuffer(), nullptr);
  orvane::dx::SetRestoreFails(false);
  EXPECT_TRUE(manager_.Render());
  ASSERT_NE(manager_.GetBackBuffer(), nullptr);
  EXPECT_EQ(Back()[0], 0x336699u);
}

TEST_F(TssDevice, FullscreenSwitchRevertsOnFailureAndGdiModeNests) {
  ASSERT_TRUE(Start(640, 480));
  orvane::dx::FailCall("SetDisplayMode");
  EXPECT_FALSE(manager_.SetFullscreen(true));
  EXPECT_FALSE(manager_.IsFullscreen());
  ASSERT_NE(manager_.GetBackBuffer(), nullptr);
  EXPECT_EQ(GetWindowLongA(hwnd_, GWL_STYLE) & WS_POPUP, static_cast<LONG>(WS_POPUP));
  ASSERT_TRUE(manager_.SetFullscreen(true));
  EXPECT_TRUE(manager_.IsFullscreen());
  EXPECT_TRUE(manager_.CheckFullscreenSize(800, 600));
  EXPECT_FALSE(manager_.CheckFullscreenSize(801, 600));
  orvane::dx::TakeCallLog();
  manager_.UseGDI(true);
  manager_.UseGDI(true);
  manager_.UseGDI(false);
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "SetClipper"), 1);
  EXPECT_EQ(CountPrefix(log, "FlipToGDISurface"), 1);
  EXPECT_EQ(CountPrefix(log, "SetClipper null"), 0);
  // While GDI mode holds, presents blit; the cursor message is passed on.
  orvane::dx::TakeCallLog();
  manager_.Present();
  log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "Flip "), 0);
  EXPECT_EQ(CountPrefix(log, "Blt "), 1);
  LRESULT result = 0;
  EXPECT_TRUE(manager_.OnMessage(&result, &window_, WM_SETCURSOR, 0, 0));
  manager_.UseGDI(false);
  log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "SetClipper null"), 1);
  EXPECT_FALSE(manager_.OnMessage(&result, &window_, WM_SETCURSOR, 0, 0));
  EXPECT_EQ(result, 1);
  manager_.Present();
  log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "Flip "), 1);
  manager_.SetFlipscreen(false);
  manager_.Present();
  log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "Flip "), 0);
  EXPECT_TRUE(manager_.SetFullscreen(false));
  EXPECT_FALSE(manager_.IsFullscreen());
}

TEST_F(TssDevice, WindowSizeStillDrawingAndTheHook) {
  ASSERT_TRUE(Start(32, 24));
  orvane::dx::TakeCallLog();
  EXPECT_TRUE(manager_.SetWindowSize(32, 24));
  EXPECT_TRUE(orvane::dx::TakeCallLog().empty());  // nothing recreated
  ASSERT_TRUE(manager_.SetWindowSize(40, 30));
  int32_t w, h;
  manager_.GetWindowSize(&w, &h);
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 30);
  int bw, bh;
  ReadSurface(manager_.GetBackBuffer(), &bw, &bh);
  EXPECT_EQ(bw, 40);
  EXPECT_EQ(bh, 30);
  // A surface that never stops drawing: the waits give up and the frame goes on.
  orvane::dx::LogCalls(false);
  orvane::dx::SetStillDrawing(-1);
  manager_.Present();
  orvane::dx::SetStillDrawing(0);
  orvane::dx::LogCalls(true);
  LRESULT result = 0;
  EXPECT_FALSE(manager_.OnMessage(&result, &window_, WM_ERASEBKGND, 0, 0));
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(manager_.OnMessage(&result, &window_, WM_SETCURSOR, 0, 0));  // window mode
  orvane::dx::TakeCallLog();
  EXPECT_FALSE(manager_.OnMessage(&result, &window_, WM_PAINT, 0, 0));
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "BeginScene"), 1);
  EXPECT_EQ(CountPrefix(log, "Blt "), 1);
}

TEST_F(TssDevice, PresentsLandInTheWindowInBothModes) {
  orvane::dx::CapturePresents(true);
  ASSERT_TRUE(Start(640, 480));
  DRef<DtssImage> img = Image(4, 4, 0xFF123456);
  DRef<DtssSprite> s = manager_.CreateSprite(img.Get(), 0);
  s->SetPos(2, 3);
  s->SetDraw(true);
  ASSERT_TRUE(manager_.Render());
  manager_.Present();
  orvane::dx::Capture cap;
  ASSERT_TRUE(orvane::dx::TakeCapture(hwnd_, &cap));
  ASSERT_EQ(cap.width, 640);
  ASSERT_EQ(cap.height, 480);
  EXPECT_EQ(cap.pixels, Back());
  EXPECT_EQ(cap.pixels[3 * 640 + 2], 0x123456u);
  // Full screen: the flip shows the frame just drawn; the back buffer then holds the one before.
  ASSERT_TRUE(manager_.SetFullscreen(true));
  s->SetPos(10, 10);
  ASSERT_TRUE(manager_.Render());
  std::vector<uint32_t> drawn = Back();
  manager_.Present();
  ASSERT_TRUE(orvane::dx::TakeCapture(hwnd_, &cap));
  EXPECT_EQ(cap.pixels, drawn);
  EXPECT_EQ(cap.pixels[10 * 640 + 10], 0x123456u);
  EXPECT_NE(Back(), drawn);
}

}  // namespace
