// The DirectDraw / Direct3D stand-in: objects, modes, surfaces (sizes, Lock, Blt, Flip, lost
// state, still drawing), the budget, the device's drawing and the presents into a window.
#include "platform/ddraw.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/d3dx.h"
#include "platform/ddraw_test.h"
#include "platform/gdi.h"
#include "platform/host.h"
#include "platform/user.h"

namespace {

LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

class DDraw : public ::testing::Test {
 protected:
  void SetUp() override {
    orvane::dx::Reset();
    ASSERT_EQ(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd_), IID_IDirectDraw7, nullptr), DD_OK);
  }
  void TearDown() override {
    if (dd_) dd_->Release();
    EXPECT_EQ(orvane::dx::LiveSurfaces(), 0);
    EXPECT_EQ(orvane::dx::VideoMemoryUsed(), 0u);
  }
  IDirectDrawSurface7* Make(DWORD caps, DWORD w, DWORD h, const DDPIXELFORMAT* pf = nullptr,
                            HRESULT* hr = nullptr) {
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | (pf ? DDSD_PIXELFORMAT : 0);
    d.dwWidth = w;
    d.dwHeight = h;
    d.ddsCaps.dwCaps = caps;
    if (pf) d.ddpfPixelFormat = *pf;
    IDirectDrawSurface7* s = nullptr;
    HRESULT r = dd_->CreateSurface(&d, &s, nullptr);
    if (hr) *hr = r;
    return s;
  }
  static DDPIXELFORMAT Argb() {
    DDPIXELFORMAT p{
        sizeof(DDPIXELFORMAT), DDPF_RGB | DDPF_ALPHAPIXELS, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
    return p;
  }
  IDirectDraw7* dd_ = nullptr;
};

HRESULT CollectMode(LPDDSURFACEDESC2 d, LPVOID ctx) {
  static_cast<std::vector<std::string>*>(ctx)->push_back(std::to_string(d->dwWidth) + "x" +
                                                         std::to_string(d->dwHeight) + "x" +
                                                         std::to_string(d->ddpfPixelFormat.dwRGBBitCount));
  return DDENUMRET_OK;
}

TEST_F(DDraw, ModesDesktopAndCreationFaults) {
  std::vector<std::string> modes;
  ASSERT_EQ(dd_->EnumDisplayModes(0, nullptr, &modes, CollectMode), DD_OK);
  EXPECT_EQ(modes, (std::vector<std::string>{"640x480x16", "640x480x32", "800x600x16", "800x600x32",
                                             "1024x768x16", "1024x768x32"}));
  DEVMODEA dm{};
  dm.dmSize = sizeof dm;
  ASSERT_TRUE(EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &dm));
  EXPECT_EQ(dm.dmBitsPerPel, 32u);
  orvane::dx::DeviceProfile p;
  p.desktop_depth = 16;
  orvane::dx::SetProfile(p);
  ASSERT_TRUE(EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &dm));
  EXPECT_EQ(dm.dmBitsPerPel, 16u);
  orvane::dx::FailCall("DirectDrawCreateEx");
  IDirectDraw7* other = reinterpret_cast<IDirectDraw7*>(1);
  EXPECT_NE(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&other), IID_IDirectDraw7, nullptr), DD_OK);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(D3DXInitialize(), S_OK);
  DDPIXELFORMAT pf{};
  EXPECT_NE(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&other), IID_IDirect3D7, nullptr), DD_OK);
  (void)pf;
}

TEST_F(DDraw, SurfaceSizesAndTheTextureBudget) {
  DDPIXELFORMAT argb = Argb();
  struct Case {
    DWORD w, h;
    bool ok;
  } cases[] = {{0, 4, false}, {4, 0, false}, {1, 1, true}, {40000, 2, false}, {16384, 16385, false}};
  for (const Case& c : cases) {
    HRESULT hr;
    IDirectDrawSurface7* s = Make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, c.w, c.h, &argb, &hr);
    EXPECT_EQ(s != nullptr, c.ok) << c.w << "x" << c.h;
    EXPECT_EQ(SUCCEEDED(hr), c.ok);
    if (s) s->Release();
  }
  orvane::dx::DeviceProfile p;
  p.vram_budget = 64 * 64 * 4 * 2;
  p.pow2 = true;
  orvane::dx::SetProfile(p);
  HRESULT hr;
  IDirectDrawSurface7* a = Make(DDSCAPS_TEXTURE, 64, 64, &argb);
  IDirectDrawSurface7* b = Make(DDSCAPS_TEXTURE, 64, 64, &argb);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(Make(DDSCAPS_TEXTURE, 1, 1, &argb, &hr), nullptr);
  EXPECT_EQ(hr, DDERR_OUTOFVIDEOMEMORY);
  a->Release();
  EXPECT_EQ(Make(DDSCAPS_TEXTURE, 3, 4, &argb, &hr), nullptr);  // not a power of two
  IDirectDrawSurface7* c = Make(DDSCAPS_TEXTURE, 4, 4, &argb);
  ASSERT_NE(c, nullptr);
  c->Release();
  b->Release();
}

TEST_F(DDraw, LockFillCopyAndOverlappingCopy) {
  DDPIXELFORMAT argb = Argb();
  IDirectDrawSurface7* s = Make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_SYSTEMMEMORY, 4, 3, &argb);
  ASSERT_NE(s, nullptr);
  DDBLTFX fx{sizeof(DDBLTFX), 0x11223344};
  RECT r{1, 0, 4, 3};
  ASSERT_EQ(s->Blt(&r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
  RECT outside{2, 0, 5, 1};
  EXPECT_EQ(s->Blt(&outside, nullptr, nullptr, DDBLT_COLORFILL, &fx), DDERR_INVALIDRECT);
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  auto px = [&](int x, int y) {
    uint32_t v;
    std::memcpy(&v, static_cast<uint8_t*>(d.lpSurface) + d.lPitch * y + x * 4, 4);
    return v;
  };
  EXPECT_EQ(px(0, 0), 0u);
  EXPECT_EQ(px(1, 0), 0x11223344u);
  uint32_t first = 0xAABBCCDD;
  std::memcpy(d.lpSurface, &first, 4);
  ASSERT_EQ(s->Unlock(nullptr), DD_OK);
  EXPECT_EQ(s->Unlock(nullptr), DDERR_NOTLOCKED);
  // Column 0 copied onto columns 1..3 one at a time from the left reads the original pixels.
  RECT src{0, 0, 3, 3}, dst{1, 0, 4, 3};
  ASSERT_EQ(s->Blt(&dst, s, &src, DDBLT_WAIT, nullptr), DD_OK);
  ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(px(1, 0), 0xAABBCCDDu);
  EXPECT_EQ(px(2, 0), 0x11223344u);
  s->Unlock(nullptr);
  RECT small{0, 0, 2, 2};
  EXPECT_EQ(s->Blt(&dst, s, &small, DDBLT_WAIT, nullptr), DDERR_UNSUPPORTED);  // no stretching
  s->Release();
}

TEST_F(DDraw, DeviceContextsDrawIntoTheSurface) {
  DDPIXELFORMAT r565{sizeof(DDPIXELFORMAT), DDPF_RGB, 0, 16, 0xF800, 0x07E0, 0x001F, 0};
  DDPIXELFORMAT a4444{
      sizeof(DDPIXELFORMAT), DDPF_RGB | DDPF_ALPHAPIXELS, 0, 16, 0x0F00, 0x00F0, 0x000F, 0xF000};
  IDirectDrawSurface7* s = Make(DDSCAPS_OFFSCREENPLAIN, 5, 3, &r565);
  IDirectDrawSurface7* t = Make(DDSCAPS_OFFSCREENPLAIN, 5, 3, &a4444);
  ASSERT_TRUE(s && t);
  HDC dc = nullptr, again = nullptr;
  EXPECT_EQ(t->GetDC(&dc), DDERR_CANTCREATEDC);
  ASSERT_EQ(s->GetDC(&dc), DD_OK);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(s->GetDC(&again), DDERR_DCALREADYCREATED);
  EXPECT_TRUE(PatBlt(dc, 1, 1, 3, 1, WHITENESS));
  ASSERT_EQ(s->ReleaseDC(dc), DD_OK);
  EXPECT_EQ(s->ReleaseDC(dc), DDERR_INVALIDPARAMS);
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  ASSERT_EQ(s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  auto px = [&](int x, int y) {
    return reinterpret_cast<const uint16_t*>(static_cast<uint8_t*>(d.lpSurface) + d.lPitch * y)[x];
  };
  EXPECT_EQ(px(1, 1), 0xFFFF);
  EXPECT_EQ(px(3, 1), 0xFFFF);
  EXPECT_EQ(px(0, 1), 0);
  EXPECT_EQ(px(4, 1), 0);
  EXPECT_EQ(px(1, 0), 0);
  s->Unlock(nullptr);
  t->Release();
  s->Release();
}

TEST_F(DDraw, LostSurfacesRestoreAndStillDrawing) {
  DDPIXELFORMAT argb = Argb();
  IDirectDrawSurface7* s = Make(DDSCAPS_OFFSCREENPLAIN, 2, 2, &argb);
  ASSERT_NE(s, nullptr);
  orvane::dx::LoseSurfaces();
  EXPECT_EQ(s->IsLost(), DDERR_SURFACELOST);
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  EXPECT_EQ(s->Lock(nullptr, &d, 0, nullptr), DDERR_SURFACELOST);
  orvane::dx::SetRestoreFails(true);
  EXPECT_EQ(s->Restore(), DDERR_WRONGMODE);
  orvane::dx::SetRestoreFails(false);
  EXPECT_EQ(s->Restore(), DD_OK);
  EXPECT_EQ(s->IsLost(), DD_OK);
  orvane::dx::SetStillDrawing(2);
  EXPECT_EQ(s->GetBltStatus(DDGBS_ISBLTDONE), DDERR_WASSTILLDRAWING);
  EXPECT_EQ(s->GetBltStatus(DDGBS_ISBLTDONE), DDERR_WASSTILLDRAWING);
  EXPECT_EQ(s->GetBltStatus(DDGBS_ISBLTDONE), DD_OK);
  s->Release();
}

TEST_F(DDraw, FullscreenChainFlipsAndPresentsIntoTheWindow) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Proc;
  wc.lpszClassName = "ddrawtest";
  RegisterClassExA(&wc);
  HWND hwnd =
      CreateWindowExA(0, "ddrawtest", "t", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);
  orvane::dx::CapturePresents(true);
  orvane::host::TakeTrace();
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
  d.dwBackBufferCount = 1;
  IDirectDrawSurface7* primary = nullptr;
  EXPECT_EQ(dd_->CreateSurface(&d, &primary, nullptr), DDERR_NOEXCLUSIVEMODE);
  ASSERT_EQ(dd_->SetCooperativeLevel(hwnd, 0x813), DD_OK);
  ASSERT_EQ(dd_->SetDisplayMode(640, 480, 16, 0, 0), DD_OK);
  EXPECT_EQ(dd_->SetDisplayMode(641, 480, 16, 0, 0), DDERR_INVALIDMODE);
  ASSERT_EQ(dd_->CreateSurface(&d, &primary, nullptr), DD_OK);
  DDSCAPS2 caps{DDSCAPS_BACKBUFFER, 0, 0, 0};
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(primary->GetAttachedSurface(&caps, &back), DD_OK);
  DDBLTFX fx{sizeof(DDBLTFX), 0xFFDF};  // RGB565 with the lowest green bit clear
  ASSERT_EQ(back->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx), DD_OK);
  ASSERT_EQ(primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  orvane::dx::Capture cap;
  ASSERT_TRUE(orvane::dx::TakeCapture(hwnd, &cap));
  ASSERT_EQ(cap.width, 640);
  EXPECT_EQ(cap.pixels[0], 0xFFFBFFu);
  EXPECT_EQ(cap.pixels[640 * 479 + 639], 0xFFFBFFu);
  // After the flip the back buffer holds the frame before last (here: the never-drawn one).
  DDSURFACEDESC2 l{};
  l.dwSize = sizeof l;
  ASSERT_EQ(back->Lock(nullptr, &l, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(*static_cast<uint16_t*>(l.lpSurface), 0);
  back->Unlock(nullptr);
  std::vector<std::string> trace = orvane::host::TakeTrace();
  bool on = false;
  for (auto& t : trace)
    on = on || (t.rfind("fullscreen", 0) == 0 && t.find(" 1 640x480") != std::string::npos);
  EXPECT_TRUE(on);
  back->Release();
  primary->Release();
  dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
  trace = orvane::host::TakeTrace();
  ASSERT_FALSE(trace.empty());
  EXPECT_NE(trace.back().find(" 0 "), std::string::npos);
  DestroyWindow(hwnd);
}

TEST_F(DDraw, DeviceDrawsIntoItsTargetAndLogsCalls) {
  IDirect3D7* d3d = nullptr;
  ASSERT_EQ(dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d)), S_OK);
  DDPIXELFORMAT x888{sizeof(DDPIXELFORMAT), DDPF_RGB, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0};
  IDirectDrawSurface7* target = Make(DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE, 4, 4, &x888);
  ASSERT_NE(target, nullptr);
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DRGBDevice, target, &dev), DD_OK);
  orvane::dx::TakeCallLog();
  struct Vtx {
    float x, y, z, rhw;
    DWORD c;
    float u0, v0, u1, v1;
  } v[4] = {{0.5f, 0.5f, 0, 1, 0xFF102030, 0, 0, 0, 0},
            {2.5f, 0.5f, 0, 1, 0xFF102030, 0, 0, 0, 0},
            {0.5f, 2.5f, 0, 1, 0xFF102030, 0, 0, 0, 0},
            {2.5f, 2.5f, 0, 1, 0xFF102030, 0, 0, 0, 0}};
  WORD idx[9] = {0, 1, 2, 2, 1, 3, 0, 1, 7};  // the last triangle indexes past the vertices
  EXPECT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0x244, v, 4, idx, 9, 0), D3DERR_SCENE_NOT_IN_SCENE);
  ASSERT_EQ(dev->BeginScene(), DD_OK);
  ASSERT_EQ(dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0x244, v, 4, idx, 9, 0), DD_OK);
  ASSERT_EQ(dev->EndScene(), DD_OK);
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  ASSERT_EQ(target->Lock(nullptr, &d, DDLOCK_WAIT, nullptr), DD_OK);
  const uint32_t* row1 = reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(d.lpSurface) + d.lPitch);
  EXPECT_EQ(row1[0], 0u);
  EXPECT_EQ(row1[1], 0x102030u);
  EXPECT_EQ(row1[2], 0x102030u);
  EXPECT_EQ(row1[3], 0u);
  target->Unlock(nullptr);
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[0], "DrawIndexedPrimitive 4 9");
  EXPECT_EQ(log[1], "BeginScene");
  orvane::dx::DeviceProfile p;
  p.hal = false;
  orvane::dx::SetProfile(p);
  IDirect3DDevice7* hal = nullptr;
  EXPECT_NE(d3d->CreateDevice(IID_IDirect3DHALDevice, target, &hal), DD_OK);
  dev->Release();
  target->Release();
  d3d->Release();
}

}  // namespace
