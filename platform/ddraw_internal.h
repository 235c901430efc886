// Shared inside the DirectDraw / Direct3D stand-in: the surface and DirectDraw object classes,
// the process-wide profile, fault table and call log.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "platform/ddraw.h"
#include "platform/ddraw_test.h"
#include "platform/gdi.h"
#include "platform/raster.h"

namespace orvane::dx {

// Pixel layouts of surfaces.
enum class SurfFormat { kX8R8G8B8, kA8R8G8B8, kR5G6B5, kX1R5G5B5, kA4R4G4B4, kPal8, kYUY2, kUYVY, kNone };

SurfFormat FormatOf(const DDPIXELFORMAT& pf);
DDPIXELFORMAT PixelFormatOf(SurfFormat f);
int BytesPerPixel(SurfFormat f);
raster::PixelKind RasterKind(SurfFormat f);

// Logs one call; true when an injected fault makes it fail.
bool Call(const std::string& line);
std::string Hex(uint32_t v);

class DirectDraw;
class Clipper;

class Surface final : public IDirectDrawSurface7 {
 public:
  Surface(DirectDraw* dd, DWORD caps, int width, int height, SurfFormat format);
  ~Surface();
  // Allocates the memory; false on exhaustion (the caller reports DDERR_OUTOFMEMORY).
  bool Allocate();

  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT Blt(LPRECT dst_rect, IDirectDrawSurface7* src, LPRECT src_rect, DWORD flags, LPDDBLTFX fx) override;
  HRESULT Flip(IDirectDrawSurface7* override_surface, DWORD flags) override;
  HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** surface) override;
  HRESULT GetBltStatus(DWORD flags) override;
  HRESULT GetFlipStatus(DWORD flags) override;
  HRESULT GetCaps(DDSCAPS2* caps) override;
  HRESULT GetClipper(IDirectDrawClipper** clipper) override;
  HRESULT GetPixelFormat(LPDDPIXELFORMAT format) override;
  HRESULT GetSurfaceDesc(LPDDSURFACEDESC2 desc) override;
  HRESULT GetDC(HDC* dc) override;
  HRESULT ReleaseDC(HDC dc) override;
  HRESULT IsLost() override;
  HRESULT Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) override;
  HRESULT Unlock(LPRECT rect) override;
  HRESULT Restore() override;
  HRESULT SetClipper(IDirectDrawClipper* clipper) override;

  // The rasterizer's view of the memory (bits null for a surface without memory).
  raster::RasterTarget Target();
  raster::TextureView View();
  std::string Name() const { return "#" + std::to_string(id_); }

  std::atomic<ULONG> refs_{1};
  DirectDraw* dd_;
  uint32_t id_;
  DWORD caps_;
  int width_, height_;
  SurfFormat format_;
  int64_t pitch_ = 0;
  std::vector<uint8_t> mem_;
  uint64_t vram_ = 0;  // bytes counted against the budget
  bool lost_ = false;
  int locks_ = 0;
  Surface* back_ = nullptr;       // a flipping primary's back buffer (one reference)
  Surface* front_ = nullptr;      // the back buffer's primary (not counted)
  Clipper* clipper_ = nullptr;    // one reference
  HDC dc_ = nullptr;              // the device context GetDC gave out (ddraw_surface_dc.cc)
  HGDIOBJ dc_bitmap_ = nullptr;   // its bitmap over mem_
  HGDIOBJ dc_old_ = nullptr;      // the bitmap it replaced in the DC
};

// Device contexts of surfaces (ddraw_surface_dc.cc).
HRESULT SurfaceDcCreate(Surface* s, HDC* dc);
HRESULT SurfaceDcRelease(Surface* s, HDC dc);

Surface* AsSurface(IDirectDrawSurface7* s);

class DirectDraw final : public IDirectDraw7 {
 public:
  DirectDraw();
  ~DirectDraw();
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** clipper, IUnknown* outer) override;
  HRESULT CreateSurface(LPDDSURFACEDESC2 desc, IDirectDrawSurface7** surface, IUnknown* outer) override;
  HRESULT EnumDisplayModes(DWORD flags, LPDDSURFACEDESC2 filter, LPVOID context,
                           LPDDENUMMODESCALLBACK2 callback) override;
  HRESULT FlipToGDISurface() override;
  HRESULT GetCaps(LPDDCAPS driver_caps, LPDDCAPS emulation_caps) override;
  HRESULT GetDisplayMode(LPDDSURFACEDESC2 desc) override;
  HRESULT GetAvailableVidMem(DDSCAPS2* caps, LPDWORD total, LPDWORD free) override;
  HRESULT GetDeviceIdentifier(DDDEVICEIDENTIFIER2* id, DWORD flags) override;
  HRESULT SetCooperativeLevel(HWND hwnd, DWORD flags) override;
  HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refresh, DWORD flags) override;
  HRESULT RestoreDisplayMode() override;

  // Shows rows of a surface in the window's client surface: the surface rectangle src goes to
  // client position (x, y), clipped to both.
  void Show(HWND hwnd, Surface* s, const RECT& src, int x, int y);
  // The window full-screen presents go to.
  HWND FullscreenWindow() const { return exclusive_ ? coop_hwnd_ : nullptr; }
  DisplayMode Mode() const { return mode_; }

  std::atomic<ULONG> refs_{1};
  HWND coop_hwnd_ = nullptr;
  bool exclusive_ = false;
  bool mode_set_ = false;
  bool fullscreen_shown_ = false;
  DisplayMode mode_;
};

// The desktop's mode and the list of display modes.
DisplayMode DesktopMode();
std::vector<DisplayMode> DisplayModes();
uint64_t& VramUsed();

// The Direct3D object of a DirectDraw object (QueryInterface for IID_IDirect3D7).
IDirect3D7* NewDirect3D(DirectDraw* dd);

}  // namespace orvane::dx
