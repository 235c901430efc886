// DirectDraw 7 stand-in: the DirectDraw object, surfaces, clippers, display modes, presenting
// into the window's client surface, and the test controls (profile, faults, call log, captures).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <set>

#include "platform/client_surface.h"
#include "platform/d3dx.h"
#include "platform/ddraw_internal.h"
#include "platform/host.h"
#include "platform/user.h"

namespace orvane::dx {
namespace {

struct Global {
  std::mutex lock;
  DeviceProfile profile;
  std::vector<std::string> log;
  bool log_on = true;
  std::vector<std::pair<std::string, int>> faults;
  int still_drawing = 0;
  bool restore_fails = false;
  uint64_t vram_used = 0;
  std::set<Surface*> surfaces;
  std::set<Surface*> orphans;  // back buffers whose chain is gone but which callers still count
  uint32_t next_id = 1;
  bool capture = false;
  std::map<HWND, Capture> captures;
};

Global& G() {
  static Global* g = new Global;  // lives for the process: objects may be released at exit
  return *g;
}

// One status query while the still-drawing fault is armed.
bool StillDrawing() {
  Global& g = G();
  std::lock_guard<std::mutex> l(g.lock);
  if (g.still_drawing == 0) return false;
  if (g.still_drawing > 0) --g.still_drawing;
  return true;
}

bool ValidRect(const RECT& r, int w, int h) {
  return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right <= w && r.bottom <= h;
}

// 0x00RRGGBB of pixel x of a row.
uint32_t ToXrgb(const uint8_t* row, int x, SurfFormat f) {
  uint16_t p16;
  uint32_t p32;
  switch (f) {
    case SurfFormat::kX8R8G8B8:
    case SurfFormat::kA8R8G8B8:
      std::memcpy(&p32, row + x * 4, 4);
      return p32 & 0xFFFFFF;
    case SurfFormat::kR5G6B5: {
      std::memcpy(&p16, row + x * 2, 2);
      raster::Rgba c = raster::Decode565(p16);
      return raster::EncodeX888(c);
    }
    case SurfFormat::kX1R5G5B5: {
      std::memcpy(&p16, row + x * 2, 2);
      uint32_t r = (p16 >> 10) & 31, g = (p16 >> 5) & 31, b = p16 & 31;
      return (((r << 3) | (r >> 2)) << 16) | (((g << 3) | (g >> 2)) << 8) | ((b << 3) | (b >> 2));
    }
    case SurfFormat::kA4R4G4B4: {
      std::memcpy(&p16, row + x * 2, 2);
      return raster::EncodeX888(raster::Decode4444(p16));
    }
    default:
      return 0;
  }
}

}  // namespace

// ---- Formats.

SurfFormat FormatOf(const DDPIXELFORMAT& pf) {
  if (pf.dwFlags & DDPF_FOURCC) {
    if (pf.dwFourCC == MAKEFOURCC('Y', 'U', 'Y', '2')) return SurfFormat::kYUY2;
    if (pf.dwFourCC == MAKEFOURCC('U', 'Y', 'V', 'Y')) return SurfFormat::kUYVY;
    return SurfFormat::kNone;
  }
  if (!(pf.dwFlags & DDPF_RGB)) return SurfFormat::kNone;
  bool alpha = (pf.dwFlags & DDPF_ALPHAPIXELS) != 0;
  if (pf.dwRGBBitCount == 32 && pf.dwRBitMask == 0xFF0000 && pf.dwGBitMask == 0xFF00 && pf.dwBBitMask == 0xFF)
    return alpha ? (pf.dwRGBAlphaBitMask == 0xFF000000u ? SurfFormat::kA8R8G8B8 : SurfFormat::kNone)
                 : SurfFormat::kX8R8G8B8;
  if (pf.dwRGBBitCount == 16 && !alpha && pf.dwRBitMask == 0xF800 && pf.dwGBitMask == 0x07E0 &&
      pf.dwBBitMask == 0x1F)
    return SurfFormat::kR5G6B5;
  if (pf.dwRGBBitCount == 16 && !alpha && pf.dwRBitMask == 0x7C00 && pf.dwGBitMask == 0x03E0 &&
      pf.dwBBitMask == 0x1F)
    return SurfFormat::kX1R5G5B5;
  if (pf.dwRGBBitCount == 16 && alpha && pf.dwRBitMask == 0x0F00 && pf.dwGBitMask == 0x00F0 &&
      pf.dwBBitMask == 0x0F && pf.dwRGBAlphaBitMask == 0xF000)
    return SurfFormat::kA4R4G4B4;
  return SurfFormat::kNone;
}

DDPIXELFORMAT PixelFormatOf(SurfFormat f) {
  DDPIXELFORMAT p{};
  p.dwSize = sizeof(p);
  p.dwFlags = DDPF_RGB;
  switch (f) {
    case SurfFormat::kA8R8G8B8:
      p.dwFlags |= DDPF_ALPHAPIXELS;
      p.dwRGBAlphaBitMask = 0xFF000000u;
      [[fallthrough]];
    case SurfFormat::kX8R8G8B8:
      p.dwRGBBitCount = 32;
      p.dwRBitMask = 0xFF0000;
      p.dwGBitMask = 0xFF00;
      p.dwBBitMask = 0xFF;
      break;
    case SurfFormat::kR5G6B5:
      p.dwRGBBitCount = 16;
      p.dwRBitMask = 0xF800;
      p.dwGBitMask = 0x07E0;
      p.dwBBitMask = 0x1F;
      break;
    case SurfFormat::kX1R5G5B5:
      p.dwRGBBitCount = 16;
      p.dwRBitMask = 0x7C00;
      p.dwGBitMask = 0x03E0;
      p.dwBBitMask = 0x1F;
      break;
    case SurfFormat::kA4R4G4B4:
      p.dwFlags |= DDPF_ALPHAPIXELS;
      p.dwRGBBitCount = 16;
      p.dwRBitMask = 0x0F00;
      p.dwGBitMask = 0x00F0;
      p.dwBBitMask = 0x000F;
      p.dwRGBAlphaBitMask = 0xF000;
      break;
    case SurfFormat::kPal8:
      p.dwFlags = 0x20;  // DDPF_PALETTEINDEXED8
      p.dwRGBBitCount = 8;
      break;
    case SurfFormat::kYUY2:
    case SurfFormat::kUYVY:
      p.dwFlags = DDPF_FOURCC;
      p.dwFourCC = f == SurfFormat::kYUY2 ? MAKEFOURCC('Y', 'U', 'Y', '2') : MAKEFOURCC('U', 'Y', 'V', 'Y');
      p.dwRGBBitCount = 16;
      break;
    case SurfFormat::kNone:
      p.dwFlags = 0;
      break;
  }
  return p;
}

int BytesPerPixel(SurfFormat f) {
  switch (f) {
    case SurfFormat::kX8R8G8B8:
    case SurfFormat::kA8R8G8B8:
      return 4;
    case SurfFormat::kPal8:
      return 1;
    case SurfFormat::kNone:
      return 0;
    default:
      return 2;
  }
}

raster::PixelKind RasterKind(SurfFormat f) {
  switch (f) {
    case SurfFormat::kX8R8G8B8:
      return raster::PixelKind::kX8R8G8B8;
    case SurfFormat::kA8R8G8B8:
      return raster::PixelKind::kA8R8G8B8;
    case SurfFormat::kR5G6B5:
      return raster::PixelKind::kR5G6B5;
    case SurfFormat::kA4R4G4B4:
      return raster::PixelKind::kA4R4G4B4;
    default:
      return raster::PixelKind::kUnsupported;
  }
}

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%x", v);
  return b;
}

bool Call(const std::string& line) {
  Global& g = G();
  std::lock_guard<std::mutex> l(g.lock);
  if (g.log_on) g.log.push_back(line);
  for (auto& f : g.faults) {
    if (f.second == 0 || line.compare(0, f.first.size(), f.first) != 0) continue;
    if (f.second > 0) --f.second;
    return true;
  }
  return false;
}

uint64_t& VramUsed() {
  return G().vram_used;
}

// ---- Display modes.

DisplayMode DesktopMode() {
  int w = 1024, h = 768;
  host::Current().ScreenSize(&w, &h);
  int depth = G().profile.desktop_depth;
  if (depth == 0) depth = host::Current().DesktopDepth();
  if (depth == 24) depth = 32;
  return DisplayMode{w, h, depth, false};
}

std::vector<DisplayMode> DisplayModes() {
  if (!G().profile.modes.empty()) return G().profile.modes;
  DisplayMode desk = DesktopMode();
  std::vector<std::pair<int, int>> sizes;
  for (auto s : {std::pair{640, 480}, std::pair{800, 600}, std::pair{1024, 768}})
    if (s.first <= desk.width && s.second <= desk.height) sizes.push_back(s);
  if (std::find(sizes.begin(), sizes.end(), std::pair{desk.width, desk.height}) == sizes.end())
    sizes.push_back({desk.width, desk.height});
  std::vector<DisplayMode> modes;
  for (auto s : sizes)
    for (int d : {16, 32}) modes.push_back(DisplayMode{s.first, s.second, d, false});
  return modes;
}

namespace {
SurfFormat ModeFormat(const DisplayMode& m) {
  if (m.depth == 16) return m.rgb555 ? SurfFormat::kX1R5G5B5 : SurfFormat::kR5G6B5;
  if (m.depth == 32) return SurfFormat::kX8R8G8B8;
  return SurfFormat::kPal8;
}
void FillModeDesc(const DisplayMode& m, DDSURFACEDESC2* d) {
  std::memset(d, 0, sizeof *d);
  d->dwSize = sizeof *d;
  d->dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT | DDSD_PITCH | DDSD_REFRESHRATE;
  d->dwWidth = static_cast<DWORD>(m.width);
  d->dwHeight = static_cast<DWORD>(m.height);
  d->ddpfPixelFormat = PixelFormatOf(ModeFormat(m));
  d->lPitch = m.width * BytesPerPixel(ModeFormat(m));
  d->dwRefreshRate = 60;
}
}  // namespace

// ---- Clipper.

class Clipper final : public IDirectDrawClipper {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT SetHWnd(DWORD, HWND hwnd) override {
    if (Call("SetHWnd")) return DDERR_GENERIC;
    hwnd_ = hwnd;
    return DD_OK;
  }
  HRESULT GetHWnd(HWND* hwnd) override {
    if (!hwnd) return DDERR_INVALIDPARAMS;
    *hwnd = hwnd_;
    return DD_OK;
  }
  std::atomic<ULONG> refs_{1};
  HWND hwnd_ = nullptr;
};

// ---- Surface.

Surface::Surface(DirectDraw* dd, DWORD caps, int width, int height, SurfFormat format)
    : dd_(dd), caps_(caps), width_(width), height_(height), format_(format) {
  dd_->AddRef();
  Global& g = G();
  std::lock_guard<std::mutex> l(g.lock);
  id_ = g.next_id++;
  g.surfaces.insert(this);
}

Surface::~Surface() {
  if (dc_) {
    SelectObject(dc_, dc_old_);
    DeleteObject(dc_bitmap_);
    DeleteDC(dc_);
  }
  if (back_) {
    // The chain's back buffer goes with its primary, as on the real system, even when callers
    // still count references to it (taking one more than they release is common). Such a back
    // buffer stays as an empty, lost object until its count reaches 0, so a late call is safe.
    Surface* back = back_;
    back_ = nullptr;
    back->front_ = nullptr;
    if (back->refs_ > 1) {
      --back->refs_;
      back->lost_ = true;
      std::vector<uint8_t>().swap(back->mem_);
      std::lock_guard<std::mutex> l(G().lock);
      G().surfaces.erase(back);
      G().orphans.insert(back);
    } else {
      back->Release();
    }
  }
  if (clipper_) clipper_->Release();
  {
    Global& g = G();
    std::lock_guard<std::mutex> l(g.lock);
    g.vram_used -= vram_;
    g.surfaces.erase(this);
    g.orphans.erase(this);
  }
  dd_->Release();
}

bool Surface::Allocate() {
  int bpp = BytesPerPixel(format_);
  pitch_ = (int64_t{width_} * bpp + 3) & ~int64_t{3};
  try {
    mem_.assign(static_cast<size_t>(pitch_) * static_cast<size_t>(height_), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

Surface* AsSurface(IDirectDrawSurface7* s) {
  return static_cast<Surface*>(s);
}

HRESULT Surface::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IDirectDrawSurface7) {
    AddRef();
    *object = static_cast<IDirectDrawSurface7*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}
ULONG Surface::AddRef() {
  return ++refs_;
}
ULONG Surface::Release() {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

raster::RasterTarget Surface::Target() {
  return raster::RasterTarget{mem_.empty() ? nullptr : mem_.data(), pitch_, width_, height_,
                              RasterKind(format_)};
}
raster::TextureView Surface::View() {
  return raster::TextureView{mem_.empty() ? nullptr : mem_.data(), pitch_, width_, height_,
                             RasterKind(format_)};
}

HRESULT Surface::Blt(LPRECT dst_rect, IDirectDrawSurface7* src_if, LPRECT src_rect, DWORD flags,
                     LPDDBLTFX fx) {
  Surface* src = AsSurface(src_if);
  if (Call("Blt " + Name() + (src ? " " + src->Name() : std::string(" fill")))) return DDERR_GENERIC;
  if (lost_ || (src && src->lost_)) return DDERR_SURFACELOST;
  RECT dr = dst_rect ? *dst_rect : RECT{0, 0, width_, height_};
  bool primary = (caps_ & DDSCAPS_PRIMARYSURFACE) != 0;
  if (flags & DDBLT_COLORFILL) {
    if (!fx || fx->dwSize != sizeof(DDBLTFX)) return DDERR_INVALIDPARAMS;
    if (mem_.empty()) return DDERR_UNSUPPORTED;
    if (!ValidRect(dr, width_, height_)) return DDERR_INVALIDRECT;
    int bpp = BytesPerPixel(format_);
    for (LONG y = dr.top; y < dr.bottom; ++y) {
      uint8_t* row = mem_.data() + pitch_ * y + int64_t{dr.left} * bpp;
      for (LONG x = dr.left; x < dr.right; ++x, row += bpp) std::memcpy(row, &fx->dwFillColor, bpp);
    }
    if (primary && dd_->FullscreenWindow()) dd_->Show(dd_->FullscreenWindow(), this, dr, dr.left, dr.top);
    return DD_OK;
  }
  if (!src || src->mem_.empty()) return DDERR_INVALIDPARAMS;
  RECT sr = src_rect ? *src_rect : RECT{0, 0, src->width_, src->height_};
  if (!ValidRect(sr, src->width_, src->height_)) return DDERR_INVALIDRECT;
  if (dr.right - dr.left != sr.right - sr.left || dr.bottom - dr.top != sr.bottom - sr.top)
    return DDERR_UNSUPPORTED;
  if (primary && mem_.empty()) {
    // A window-mode primary: the rectangle is in screen coordinates and lands in the clipper's
    // window.
    if (!clipper_ || !clipper_->hwnd_) return DD_OK;  // the desktop outside every window
    POINT origin{0, 0};
    ClientToScreen(clipper_->hwnd_, &origin);
    dd_->Show(clipper_->hwnd_, src, sr, dr.left - origin.x, dr.top - origin.y);
    return DD_OK;
  }
  if (mem_.empty()) return DDERR_UNSUPPORTED;
  if (!ValidRect(dr, width_, height_)) return DDERR_INVALIDRECT;
  if (src->format_ != format_) return DDERR_INVALIDPIXELFORMAT;
  int bpp = BytesPerPixel(format_);
  size_t row_bytes = static_cast<size_t>(sr.right - sr.left) * bpp;
  int rows = sr.bottom - sr.top;
  // Rows are copied through a buffer when source and destination share memory.
  std::vector<uint8_t> tmp;
  const uint8_t* from = src->mem_.data() + src->pitch_ * sr.top + int64_t{sr.left} * bpp;
  int64_t from_pitch = src->pitch_;
  if (src == this) {
    tmp.resize(row_bytes * rows);
    for (int y = 0; y < rows; ++y) std::memcpy(&tmp[row_bytes * y], from + from_pitch * y, row_bytes);
    from = tmp.data();
    from_pitch = static_cast<int64_t>(row_bytes);
  }
  for (int y = 0; y < rows; ++y)
    std::memcpy(mem_.data() + pitch_ * (dr.top + y) + int64_t{dr.left} * bpp, from + from_pitch * y,
                row_bytes);
  if (primary && dd_->FullscreenWindow()) dd_->Show(dd_->FullscreenWindow(), this, dr, dr.left, dr.top);
  return DD_OK;
}

HRESULT Surface::Flip(IDirectDrawSurface7*, DWORD flags) {
  if (Call("Flip " + Hex(flags))) return DDERR_GENERIC;
  if (!back_) return DDERR_NOTFLIPPABLE;
  if (lost_ || back_->lost_) return DDERR_SURFACELOST;
  std::swap(mem_, back_->mem_);
  if (HWND w = dd_->FullscreenWindow()) dd_->Show(w, this, RECT{0, 0, width_, height_}, 0, 0);
  return DD_OK;
}

HRESULT Surface::GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** surface) {
  if (Call("GetAttachedSurface")) return DDERR_NOTFOUND;
  if (!caps || !surface) return DDERR_INVALIDPARAMS;
  if (!(caps->dwCaps & DDSCAPS_BACKBUFFER) || !back_) return DDERR_NOTFOUND;
  back_->AddRef();
  *surface = back_;
  return DD_OK;
}

HRESULT Surface::GetBltStatus(DWORD flags) {
  Call("GetBltStatus " + Hex(flags));
  return StillDrawing() ? DDERR_WASSTILLDRAWING : DD_OK;
}

HRESULT Surface::GetFlipStatus(DWORD flags) {
  Call("GetFlipStatus " + Hex(flags));
  if (!(caps_ & DDSCAPS_FLIP) && !back_ && !front_) return DDERR_INVALIDOBJECT;
  return StillDrawing() ? DDERR_WASSTILLDRAWING : DD_OK;
}

HRESULT Surface::GetCaps(DDSCAPS2* caps) {
  if (!caps) return DDERR_INVALIDPARAMS;
  *caps = DDSCAPS2{caps_, 0, 0, 0};
  return DD_OK;
}

HRESULT Surface::GetClipper(IDirectDrawClipper** clipper) {
  if (!clipper) return DDERR_INVALIDPARAMS;
  *clipper = clipper_;
  if (!clipper_) return DDERR_NOTFOUND;
  clipper_->AddRef();
  return DD_OK;
}

HRESULT Surface::GetPixelFormat(LPDDPIXELFORMAT format) {
  if (Call("GetPixelFormat " + Name())) return DDERR_GENERIC;
  if (!format || format->dwSize != sizeof(DDPIXELFORMAT)) return DDERR_INVALIDPARAMS;
  *format = PixelFormatOf(format_);
  return DD_OK;
}

HRESULT Surface::GetSurfaceDesc(LPDDSURFACEDESC2 desc) {
  if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
  std::memset(desc, 0, sizeof *desc);
  desc->dwSize = sizeof *desc;
  desc->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT | DDSD_PITCH;
  desc->dwWidth = static_cast<DWORD>(width_);
  desc->dwHeight = static_cast<DWORD>(height_);
  desc->lPitch = static_cast<LONG>(pitch_);
  desc->ddpfPixelFormat = PixelFormatOf(format_);
  desc->ddsCaps.dwCaps = caps_;
  return DD_OK;
}

HRESULT Surface::GetDC(HDC* dc) {
  if (dc) *dc = nullptr;
  if (Call("GetDC " + Name())) return DDERR_GENERIC;
  if (StillDrawing()) return DDERR_WASSTILLDRAWING;
  return SurfaceDcCreate(this, dc);
}
HRESULT Surface::ReleaseDC(HDC dc) {
  Call("ReleaseDC " + Name());
  return SurfaceDcRelease(this, dc);
}

HRESULT Surface::IsLost() {
  Call("IsLost " + Name());
  return lost_ ? DDERR_SURFACELOST : DD_OK;
}

HRESULT Surface::Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE) {
  if (Call("Lock " + Name() + " " + Hex(flags))) return DDERR_GENERIC;
  if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
  if (lost_) return DDERR_SURFACELOST;
  if (mem_.empty()) return DDERR_UNSUPPORTED;
  RECT r = rect ? *rect : RECT{0, 0, width_, height_};
  if (!ValidRect(r, width_, height_)) return DDERR_INVALIDRECT;
  GetSurfaceDesc(desc);
  desc->dwFlags |= DDSD_LPSURFACE;
  desc->lpSurface = mem_.data() + pitch_ * r.top + int64_t{r.left} * BytesPerPixel(format_);
  ++locks_;
  return DD_OK;
}

HRESULT Surface::Unlock(LPRECT) {
  Call("Unlock " + Name());
  if (locks_ == 0) return DDERR_NOTLOCKED;
  --locks_;
  return DD_OK;
}

HRESULT Surface::Restore() {
  if (Call("Restore " + Name())) return DDERR_GENERIC;
  if (G().restore_fails) return DDERR_WRONGMODE;
  lost_ = false;
  if (back_) back_->lost_ = false;
  return DD_OK;
}

HRESULT Surface::SetClipper(IDirectDrawClipper* clipper) {
  if (Call(clipper ? "SetClipper" : "SetClipper null")) return DDERR_GENERIC;
  if (clipper) clipper->AddRef();
  if (clipper_) clipper_->Release();
  clipper_ = static_cast<Clipper*>(clipper);
  return DD_OK;
}

// ---- DirectDraw.

DirectDraw::DirectDraw() : mode_(DesktopMode()) {}

DirectDraw::~DirectDraw() {
  if (fullscreen_shown_ && coop_hwnd_) host::Current().SetFullscreen(coop_hwnd_, false, 0, 0);
}

HRESULT DirectDraw::QueryInterface(REFIID riid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (riid == IID_IDirect3D7) {
    if (Call("QueryInterface IDirect3D7")) return E_NOINTERFACE;
    *object = NewDirect3D(this);
    return S_OK;
  }
  if (riid == IID_IUnknown || riid == IID_IDirectDraw7) {
    AddRef();
    *object = static_cast<IDirectDraw7*>(this);
    return S_OK;
  }
  return E_NOINTERFACE;
}
ULONG DirectDraw::AddRef() {
  return ++refs_;
}
ULONG DirectDraw::Release() {
  ULONG n = --refs_;
  if (n == 0) delete this;
  return n;
}

HRESULT DirectDraw::CreateClipper(DWORD, IDirectDrawClipper** clipper, IUnknown* outer) {
  if (Call("CreateClipper")) return DDERR_GENERIC;
  if (!clipper || outer) return DDERR_INVALIDPARAMS;
  *clipper = new Clipper;
  return DD_OK;
}

HRESULT DirectDraw::CreateSurface(LPDDSURFACEDESC2 desc, IDirectDrawSurface7** out, IUnknown* outer) {
  if (!desc || !out || outer || desc->dwSize != sizeof(DDSURFACEDESC2) || !(desc->dwFlags & DDSD_CAPS)) {
    Call("CreateSurface");
    return DDERR_INVALIDPARAMS;
  }
  *out = nullptr;
  DWORD caps = desc->ddsCaps.dwCaps;
  bool primary = (caps & DDSCAPS_PRIMARYSURFACE) != 0;
  int w = primary ? mode_.width : static_cast<int>(desc->dwWidth);
  int h = primary ? mode_.height : static_cast<int>(desc->dwHeight);
  if (Call("CreateSurface " + Hex(caps) + " " + std::to_string(desc->dwWidth) + "x" +
           std::to_string(desc->dwHeight)))
    return DDERR_GENERIC;
  if (!primary &&
      ((desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT) || desc->dwWidth == 0 ||
       desc->dwHeight == 0 || desc->dwWidth > 32768 || desc->dwHeight > 32768))
    return DDERR_INVALIDPARAMS;
  SurfFormat fmt = ModeFormat(mode_);
  if (!primary && (desc->dwFlags & DDSD_PIXELFORMAT)) fmt = FormatOf(desc->ddpfPixelFormat);
  if (BytesPerPixel(fmt) == 0 || fmt == SurfFormat::kPal8) return DDERR_INVALIDPIXELFORMAT;
  const DeviceProfile& prof = G().profile;
  uint64_t bytes = uint64_t{static_cast<uint32_t>(w)} * static_cast<uint32_t>(h) * BytesPerPixel(fmt);
  if (bytes > (uint64_t{1} << 30)) return DDERR_OUTOFMEMORY;
  if (caps & DDSCAPS_TEXTURE) {
    if (static_cast<uint32_t>(w) > prof.max_texture_size || static_cast<uint32_t>(h) > prof.max_texture_size)
      return DDERR_INVALIDPARAMS;
    if (prof.pow2 && ((w & (w - 1)) || (h & (h - 1)))) return DDERR_INVALIDPARAMS;
    if (prof.square_only && w != h) return DDERR_INVALIDPARAMS;
    if (VramUsed() + bytes > prof.vram_budget) return DDERR_OUTOFVIDEOMEMORY;
  }
  if (primary && (caps & DDSCAPS_FLIP)) {
    if (!exclusive_) return DDERR_NOEXCLUSIVEMODE;
    if (!(desc->dwFlags & DDSD_BACKBUFFERCOUNT) || desc->dwBackBufferCount != 1) return DDERR_INVALIDPARAMS;
  }
  Surface* s = new Surface(this, caps | (primary ? DDSCAPS_FRONTBUFFER : 0), w, h, fmt);
  bool memory = !primary || (caps & DDSCAPS_FLIP);
  if (memory && !s->Allocate()) {
    s->Release();
    return DDERR_OUTOFMEMORY;
  }
  if (caps & DDSCAPS_TEXTURE) {
    s->vram_ = bytes;
    VramUsed() += bytes;
  }
  if (primary && (caps & DDSCAPS_FLIP)) {
    Surface* b = new Surface(
        this, (caps & ~(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER)) | DDSCAPS_BACKBUFFER, w, h, fmt);
    if (!b->Allocate()) {
      b->Release();
      s->Release();
      return DDERR_OUTOFMEMORY;
    }
    s->back_ = b;
    b->front_ = s;
  }
  *out = s;
  return DD_OK;
}

HRESULT DirectDraw::EnumDisplayModes(DWORD flags, LPDDSURFACEDESC2, LPVOID context,
                                     LPDDENUMMODESCALLBACK2 callback) {
  if (Call("EnumDisplayModes " + Hex(flags))) return DDERR_GENERIC;
  if (!callback) return DDERR_INVALIDPARAMS;
  for (const DisplayMode& m : DisplayModes()) {
    DDSURFACEDESC2 d;
    FillModeDesc(m, &d);
    if (callback(&d, context) == DDENUMRET_CANCEL) break;
  }
  return DD_OK;
}

HRESULT DirectDraw::FlipToGDISurface() {
  Call("FlipToGDISurface");
  return DD_OK;
}

HRESULT DirectDraw::GetCaps(LPDDCAPS driver, LPDDCAPS emulation) {
  if (Call("GetCaps")) return DDERR_GENERIC;
  if ((!driver && !emulation) || (driver && driver->dwSize != sizeof(DDCAPS)) ||
      (emulation && emulation->dwSize != sizeof(DDCAPS)))
    return DDERR_INVALIDPARAMS;
  const DeviceProfile& p = G().profile;
  for (LPDDCAPS c : {driver, emulation}) {
    if (!c) continue;
    std::memset(c, 0, sizeof *c);
    c->dwSize = sizeof *c;
    c->dwCaps = DDCAPS_BLT | DDCAPS_BLTCOLORFILL | (p.hal ? DDCAPS_3D : 0);
    c->dwVidMemTotal = static_cast<DWORD>(std::min<uint64_t>(p.vram_budget, 0xFFFFFFFFu));
    c->dwVidMemFree = static_cast<DWORD>(
        std::min<uint64_t>(p.vram_budget - std::min(p.vram_budget, VramUsed()), 0xFFFFFFFFu));
    c->ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE | DDSCAPS_FLIP | DDSCAPS_VIDEOMEMORY;
  }
  return DD_OK;
}

HRESULT DirectDraw::GetDisplayMode(LPDDSURFACEDESC2 desc) {
  if (Call("GetDisplayMode")) return DDERR_GENERIC;
  if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
  FillModeDesc(mode_, desc);
  return DD_OK;
}

HRESULT DirectDraw::GetAvailableVidMem(DDSCAPS2*, LPDWORD total, LPDWORD free) {
  const DeviceProfile& p = G().profile;
  if (total) *total = static_cast<DWORD>(std::min<uint64_t>(p.vram_budget, 0xFFFFFFFFu));
  if (free)
    *free = static_cast<DWORD>(
        std::min<uint64_t>(p.vram_budget - std::min(p.vram_budget, VramUsed()), 0xFFFFFFFFu));
  return DD_OK;
}

HRESULT DirectDraw::GetDeviceIdentifier(DDDEVICEIDENTIFIER2* id, DWORD flags) {
  if (Call("GetDeviceIdentifier " + Hex(flags))) return DDERR_GENERIC;
  if (!id) return DDERR_INVALIDPARAMS;
  std::memset(id, 0, sizeof *id);
  std::snprintf(id->szDriver, sizeof id->szDriver, "orvane-soft");
  std::snprintf(id->szDescription, sizeof id->szDescription, "Orvane software rasterizer");
  id->liDriverVersion = (ULONGLONG{7} << 48) | (ULONGLONG{0} << 32) | (ULONGLONG{0} << 16) | 1;
  return DD_OK;
}

HRESULT DirectDraw::SetCooperativeLevel(HWND hwnd, DWORD flags) {
  if (Call("SetCooperativeLevel " + Hex(flags))) return DDERR_GENERIC;
  if (flags & DDSCL_FULLSCREEN) {
    if (!(flags & DDSCL_EXCLUSIVE) || !hwnd) return DDERR_INVALIDPARAMS;
    coop_hwnd_ = hwnd;
    exclusive_ = true;
    return DD_OK;
  }
  if (!(flags & DDSCL_NORMAL)) return DDERR_INVALIDPARAMS;
  if (exclusive_) RestoreDisplayMode();
  exclusive_ = false;
  if (hwnd) coop_hwnd_ = hwnd;
  return DD_OK;
}

HRESULT DirectDraw::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD, DWORD) {
  if (Call("SetDisplayMode " + std::to_string(width) + "x" + std::to_string(height) + "x" +
           std::to_string(bpp)))
    return DDERR_GENERIC;
  if (!exclusive_) return DDERR_NOEXCLUSIVEMODE;
  for (const DisplayMode& m : DisplayModes()) {
    if (static_cast<DWORD>(m.width) == width && static_cast<DWORD>(m.height) == height &&
        static_cast<DWORD>(m.depth) == bpp) {
      mode_ = m;
      mode_set_ = true;
      fullscreen_shown_ = true;
      host::Current().SetFullscreen(coop_hwnd_, true, m.width, m.height);
      return DD_OK;
    }
  }
  return DDERR_INVALIDMODE;
}

HRESULT DirectDraw::RestoreDisplayMode() {
  Call("RestoreDisplayMode");
  if (fullscreen_shown_ && coop_hwnd_) host::Current().SetFullscreen(coop_hwnd_, false, 0, 0);
  fullscreen_shown_ = false;
  mode_set_ = false;
  mode_ = DesktopMode();
  return DD_OK;
}

void DirectDraw::Show(HWND hwnd, Surface* s, const RECT& src, int x_client, int y_client) {
  if (s->mem_.empty()) return;
  // Paints the source rectangle placed at client (x, y) into a picture whose first pixel is at
  // client (ox, oy), clipped to it; dirty receives the painted part in client coordinates.
  auto paint = [&](uint32_t* pixels, int width, int height, int64_t pitch_px, RECT* dirty, int ox = 0,
                   int oy = 0) {
    const int64_t x = int64_t{x_client} - ox, y = int64_t{y_client} - oy;
    int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    int64_t x1 = std::min<int64_t>(int64_t{x} + (src.right - src.left), width);
    int64_t y1 = std::min<int64_t>(int64_t{y} + (src.bottom - src.top), height);
    if (x0 >= x1 || y0 >= y1) {
      *dirty = RECT{0, 0, 0, 0};
      return;
    }
    for (int64_t dy = y0; dy < y1; ++dy) {
      const uint8_t* row = s->mem_.data() + s->pitch_ * (src.top + (dy - y));
      uint32_t* out = pixels + pitch_px * dy;
      for (int64_t dx = x0; dx < x1; ++dx)
        out[dx] = ToXrgb(row, static_cast<int>(src.left + (dx - x)), s->format_);
    }
    *dirty = RECT{static_cast<LONG>(x0 + ox), static_cast<LONG>(y0 + oy), static_cast<LONG>(x1 + ox),
                  static_cast<LONG>(y1 + oy)};
  };
  ClientSurfaceView view;
  if (ClientSurfaceLock(hwnd, &view)) {
    RECT dirty;
    paint(view.pixels, view.width, view.height, view.pitch / 4, &dirty, view.x, view.y);
    ClientSurfaceUnlock(hwnd, &dirty);
    ClientSurfacePresent(hwnd);
  }
  Global& g = G();
  if (!g.capture) return;
  RECT client{0, 0, 0, 0};
  GetClientRect(hwnd, &client);
  std::lock_guard<std::mutex> l(g.lock);
  Capture& c = g.captures[hwnd];
  if (c.width != client.right || c.height != client.bottom) {
    c.width = client.right;
    c.height = client.bottom;
    c.pixels.assign(static_cast<size_t>(std::max(0, c.width)) * std::max(0, c.height), 0);
  }
  RECT dirty;
  paint(c.pixels.data(), c.width, c.height, c.width, &dirty);
  ++c.presents;
}

// ---- Test controls.

void SetProfile(const DeviceProfile& profile) {
  G().profile = profile;
}
const DeviceProfile& Profile() {
  return G().profile;
}
void Reset() {
  Global& g = G();
  std::lock_guard<std::mutex> l(g.lock);
  g.profile = DeviceProfile{};
  g.log.clear();
  g.log_on = true;
  g.faults.clear();
  g.still_drawing = 0;
  g.restore_fails = false;
  g.capture = false;
  g.captures.clear();
}
void FailCall(const std::string& prefix, int times) {
  std::lock_guard<std::mutex> l(G().lock);
  G().faults.emplace_back(prefix, times);
}
void LoseSurfaces() {
  std::lock_guard<std::mutex> l(G().lock);
  // System-memory surfaces keep their contents, as on the real system.
  for (Surface* s : G().surfaces)
    if (!(s->caps_ & DDSCAPS_SYSTEMMEMORY)) s->lost_ = true;
}
void SetStillDrawing(int n) {
  std::lock_guard<std::mutex> l(G().lock);
  G().still_drawing = n;
}
void SetRestoreFails(bool on) {
  G().restore_fails = on;
}
std::vector<std::string> TakeCallLog() {
  std::lock_guard<std::mutex> l(G().lock);
  std::vector<std::string> r;
  r.swap(G().log);
  return r;
}
void LogCalls(bool on) {
  G().log_on = on;
}
void CapturePresents(bool on) {
  G().capture = on;
}
bool TakeCapture(HWND hwnd, Capture* out) {
  std::lock_guard<std::mutex> l(G().lock);
  auto it = G().captures.find(hwnd);
  if (it == G().captures.end()) return false;
  *out = it->second;
  return true;
}
uint64_t VideoMemoryUsed() {
  return G().vram_used;
}
int LiveSurfaces() {
  std::lock_guard<std::mutex> l(G().lock);
  if (std::getenv("ORVANE_DX_DEBUG"))
    for (Surface* s : G().surfaces)
      std::fprintf(stderr, "live %s caps %x refs %u\n", s->Name().c_str(), s->caps_, s->refs_.load());
  return static_cast<int>(G().surfaces.size());
}

}  // namespace orvane::dx

using namespace orvane::dx;

HRESULT DirectDrawCreateEx(GUID* guid, LPVOID* object, REFIID iid, IUnknown* outer) {
  if (Call("DirectDrawCreateEx")) {
    if (object) *object = nullptr;
    return DDERR_GENERIC;
  }
  if (!object || outer || guid || iid != IID_IDirectDraw7) {
    if (object) *object = nullptr;
    return DDERR_INVALIDPARAMS;
  }
  *object = static_cast<IDirectDraw7*>(new DirectDraw);
  return DD_OK;
}

BOOL EnumDisplaySettingsA(LPCSTR device, DWORD mode, DEVMODEA* devmode) {
  if (device || !devmode) return FALSE;
  DisplayMode m;
  if (mode == ENUM_CURRENT_SETTINGS) {
    m = DesktopMode();
  } else {
    std::vector<DisplayMode> modes = DisplayModes();
    if (mode >= modes.size()) return FALSE;
    m = modes[mode];
  }
  devmode->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
  devmode->dmBitsPerPel = static_cast<DWORD>(m.depth);
  devmode->dmPelsWidth = static_cast<DWORD>(m.width);
  devmode->dmPelsHeight = static_cast<DWORD>(m.height);
  devmode->dmDisplayFrequency = 60;
  return TRUE;
}

HRESULT D3DXInitialize() {
  return S_OK;
}
HRESULT D3DXUninitialize() {
  return S_OK;
}
