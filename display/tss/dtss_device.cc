// DtssManager, device half: DirectDraw and Direct3D creation, the display depth, device and
// format choices, display surfaces for window and full-screen mode, lost surfaces, resizing,
// mode switches, GDI mode and the window-message hook.
#include <cstdio>
#include <cstring>

#include "base/dlogstream.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "display/tss/dtss_wipe.h"
#include "platform/d3dx.h"
#include "platform/mediatypes.h"

namespace {

const char* FormatName(uint32_t code) {
  switch (code) {
    case 2:
      return "BGRA";
    case 3:
      return "BGR";
    case 4:
      return "ARGB1555";
    case 5:
      return "ARGB4444";
    case 6:
      return "RGB565";
    default:
      return "Unknown";
  }
}

const char* MovieFormatName(const GUID& subtype) {
  if (subtype == MEDIASUBTYPE_YUY2) return "A";
  if (subtype == MEDIASUBTYPE_UYVY) return "B";
  if (subtype == MEDIASUBTYPE_RGB32) return "C";
  if (subtype == MEDIASUBTYPE_RGB565) return "D";
  if (subtype == MEDIASUBTYPE_RGB555) return "E";
  return "Unknown";
}

struct DeviceContext {
  uint8_t hardware;
};
struct TextureContext {
  bool found;
  uint32_t depth;
  uint32_t* code;
  DDPIXELFORMAT* format;
};
struct MovieContext {
  bool found;
  GUID* subtype;
  DDPIXELFORMAT* format;
};
struct ModeContext {
  int32_t width, height;
  uint32_t depth;
  bool found;
};

void Log(const char* text) {
  DDebugLog() << text;
}

template <class T>
void SafeRelease(T*& p) {
  if (p) {
    p->Release();
    p = nullptr;
  }
}

}  // namespace

DtssManager& TssManager() {
  static DtssManager manager;
  return manager;
}

DtssManager::DtssManager() = default;

DtssManager::~DtssManager() {
  Destroy();
  levels_.Release();
  images_.Clear();
  wipes_.Clear();
  if (GetOwner()) Detach();
}

bool DtssManager::Create(DWindow& window, uint32_t flags) {
  if (hwnd_) return false;
  if (GetOwner() || !Attach(window)) {
    Destroy();
    return false;
  }
  window_ = window;
  hwnd_ = window.GetHandle();
  flags_ = flags;
  gdi_count_ = 0;
  image_dirty_ = 0;
  level_count_ = 0;
  blend_ = 0;
  alpha_ref_ = 0;
  D3DXInitialize();
  DRect client = window_.GetClientRect();
  if (_CreateD3D(client.x + client.width, client.y + client.height, false)) return true;
  Destroy();
  return false;
}

bool DtssManager::_CreateD3D(int32_t width, int32_t height, bool fullscreen) {
  _ReleaseD3D();
  width_ = width;
  height_ = height;
  fullscreen_ = fullscreen ? 1 : 0;
  if (flags_ & kDtssDepth16) {
    depth_ = 16;
  } else if (flags_ & kDtssDepth32) {
    depth_ = 32;
  } else {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    depth_ = EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode) && mode.dmBitsPerPel == 16 ? 16 : 32;
  }
  auto fail = [this](const char* message) {
    if (message) Log(message);
    _ReleaseD3D();
    return false;
  };
  if (!_SetWindowSetting()) return fail(nullptr);
  if (FAILED(DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&ddraw_), IID_IDirectDraw7, nullptr))) {
    ddraw_ = nullptr;
    return fail("[DtssManager::_CreateD3D] can't create DDraw7.\n");
  }
  if (FAILED(ddraw_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d_)))) {
    d3d_ = nullptr;
    return fail("[DtssManager::_CreateD3D] can't create D3D7.\n");
  }
  if (!_SetExclusive()) return fail(nullptr);
  DDSURFACEDESC2 mode{};
  mode.dwSize = sizeof mode;
  if (FAILED(ddraw_->GetDisplayMode(&mode)) || mode.ddpfPixelFormat.dwRGBBitCount <= 8)
    return fail("[DtssManager::_CreateD3D] Can't run in palette mode.\n");
  if (!_CreateDisplaySurfaces()) return fail(nullptr);
  DDCAPS caps{};
  caps.dwSize = sizeof caps;
  if (FAILED(ddraw_->GetCaps(&caps, nullptr)))
    return fail("[DtssManager::_CreateD3D] can't get ddraw caps.\n");
  DeviceContext dc{0};
  d3d_->EnumDevices(_EnumDeviceCallback, &dc);
  hardware_ = dc.hardware;
  if ((flags_ & kDtssSoftware) || !(caps.dwCaps & DDCAPS_3D)) hardware_ = 0;
  if (!_CreateDevice()) return fail(nullptr);
  if (FAILED(device_->GetCaps(&device_desc_)))
    return fail("[DtssManager::_CreateD3D] can't get D3D Device descs.\n");
  multitexture_ = device_desc_.wMaxSimultaneousTextures >= 2 ? 1 : 0;
  if (!hardware_) flags_ = (flags_ & ~kDtssNoHalfPixel) | kDtssPoint;
  TextureContext tc{false, depth_, &texture_format_, &texture_pf_};
  if (FAILED(device_->EnumTextureFormats(_EnumTextureFormatCallback, &tc)) || !tc.found)
    return fail("[DtssManager::_CreateD3D] can't get tex formats.\n");
  MovieContext mc{false, &movie_subtype_, &movie_pf_};
  if (FAILED(device_->EnumTextureFormats(_EnumMovieFormatCallback, &mc)) || !mc.found)
    return fail("[DtssManager::_CreateD3D] can't get mov formats.\n");

  DLogStream& log = DDebugLog();
  log << "[DtssManager::_CreateD3D] created Direct3D(" << (hardware_ ? "hard" : "softemu") << "). ";
  DDDEVICEIDENTIFIER2 id{};
  char buf[160];
  if (SUCCEEDED(ddraw_->GetDeviceIdentifier(&id, 0))) {
    id.szDriver[sizeof id.szDriver - 1] = 0;
    id.szDescription[sizeof id.szDescription - 1] = 0;
    uint32_t hi = static_cast<uint32_t>(id.liDriverVersion >> 32),
             lo = static_cast<uint32_t>(id.liDriverVersion);
    std::snprintf(buf, sizeof buf, "\" ver%d.%d.%d.%d. ", static_cast<int>(hi >> 16),
                  static_cast<int>(hi & 0xFFFF), static_cast<int>(lo >> 16), static_cast<int>(lo & 0xFFFF));
    log << "Driver \"" << id.szDriver << "\", \"" << id.szDescription << buf;
  }
  std::snprintf(buf, sizeof buf, "Res %dx%dx%d(%s). ", static_cast<int>(width_), static_cast<int>(height_),
                static_cast<int>(depth_), fullscreen_ ? "full" : "window");
  log << buf << "Back format \"" << FormatName(back_format_) << "\". ";
  log << "Tex format \"" << FormatName(texture_format_) << "\". ";
  std::snprintf(
      buf, sizeof buf, "Tex size (%dx%d)-(%dx%d). ", static_cast<int>(device_desc_.dwMinTextureWidth),
      static_cast<int>(device_desc_.dwMinTextureHeight), static_cast<int>(device_desc_.dwMaxTextureWidth),
      static_cast<int>(device_desc_.dwMaxTextureHeight));
  log << buf << "Mov type" << MovieFormatName(movie_subtype_) << ". ";
  std::snprintf(buf, sizeof buf, "VRAM %d/%d. ", static_cast<int>(caps.dwVidMemFree),
                static_cast<int>(caps.dwVidMemTotal));
  log << buf << "\n";
  return true;
}

HRESULT DtssManager::_EnumDeviceCallback(LPSTR, LPSTR, LPD3DDEVICEDESC7 desc, LPVOID context) {
  DeviceContext* c = static_cast<DeviceContext*>(context);
  if (desc->deviceGUID == IID_IDirect3DHALDevice &&
      (desc->dwDevCaps & (D3DDEVCAPS_HWRASTERIZATION | D3DDEVCAPS_DRAWPRIMTLVERTEX)) ==
          (D3DDEVCAPS_HWRASTERIZATION | D3DDEVCAPS_DRAWPRIMTLVERTEX) &&
      (desc->dpcTriCaps.dwMiscCaps & D3DPMISCCAPS_CULLNONE) &&
      (desc->dpcTriCaps.dwShadeCaps & D3DPSHADECAPS_ALPHAGOURAUDBLEND) && desc->dwMaxTextureWidth >= 256 &&
      desc->dwMaxTextureHeight >= 256 && desc->wMaxSimultaneousTextures >= 1)
    c->hardware = 1;
  return D3DENUMRET_OK;
}

bool DtssManager::_CreateDevice() {
  SafeRelease(device_);
  if (!d3d_ || !back_ ||
      FAILED(
          d3d_->CreateDevice(hardware_ ? IID_IDirect3DHALDevice : IID_IDirect3DRGBDevice, back_, &device_))) {
    device_ = nullptr;
    Log("[DtssManager::_CreateDevice] can't create D3D Device.\n");
    return false;
  }
  _InitRenderStates();
  return true;
}

HRESULT DtssManager::_EnumTextureFormatCallback(LPDDPIXELFORMAT pf, LPVOID context) {
  TextureContext* c = static_cast<TextureContext*>(context);
  if (pf->dwFlags != (DDPF_RGB | DDPF_ALPHAPIXELS)) return D3DENUMRET_OK;
  uint32_t code = 0;
  if (pf->dwRGBBitCount == 16 && pf->dwRBitMask == 0x0F00 && pf->dwGBitMask == 0x00F0 &&
      pf->dwBBitMask == 0x000F && pf->dwRGBAlphaBitMask == 0xF000 && (!c->found || c->depth == 16))
    code = 5;
  else if (pf->dwRGBBitCount == 32 && pf->dwRBitMask == 0xFF0000 && pf->dwGBitMask == 0xFF00 &&
           pf->dwBBitMask == 0xFF && pf->dwRGBAlphaBitMask == 0xFF000000u && (!c->found || c->depth == 32))
    code = 2;
  if (code) {
    c->found = true;
    *c->code = code;
    *c->format = *pf;
  }
  return D3DENUMRET_OK;
}

HRESULT DtssManager::_EnumMovieFormatCallback(LPDDPIXELFORMAT pf, LPVOID context) {
  MovieContext* c = static_cast<MovieContext*>(context);
  const GUID& held = *c->subtype;
  bool yuy2 = c->found && held == MEDIASUBTYPE_YUY2, uyvy = c->found && held == MEDIASUBTYPE_UYVY;
  bool rgb32 = c->found && held == MEDIASUBTYPE_RGB32;
  const GUID* take = nullptr;
  if (pf->dwFlags & DDPF_FOURCC) {
    if (pf->dwFourCC == MAKEFOURCC('Y', 'U', 'Y', '2'))
      take = &MEDIASUBTYPE_YUY2;
    else if (pf->dwFourCC == MAKEFOURCC('U', 'Y', 'V', 'Y') && !yuy2)
      take = &MEDIASUBTYPE_UYVY;
  } else if (pf->dwFlags == DDPF_RGB) {
    if (pf->dwRGBBitCount == 32 && pf->dwRBitMask == 0xFF0000 && pf->dwGBitMask == 0xFF00 &&
        pf->dwBBitMask == 0xFF) {
      if (!yuy2 && !uyvy) take = &MEDIASUBTYPE_RGB32;
    } else if (pf->dwRGBBitCount == 16 && pf->dwBBitMask == 0x001F && !yuy2 && !uyvy && !rgb32) {
      if (pf->dwRBitMask == 0xF800 && pf->dwGBitMask == 0x07E0)
        take = &MEDIASUBTYPE_RGB565;
      else if (pf->dwRBitMask == 0x7C00 && pf->dwGBitMask == 0x03E0)
        take = &MEDIASUBTYPE_RGB555;
    }
  }
  if (take) {
    c->found = true;
    *c->subtype = *take;
    *c->format = *pf;
  }
  return D3DENUMRET_OK;
}

bool DtssManager::_SetWindowSetting() {
  if (!fullscreen_ || window_saved_) return true;
  saved_style_ = static_cast<uint32_t>(GetWindowLongA(hwnd_, GWL_STYLE));
  saved_ex_style_ = static_cast<uint32_t>(GetWindowLongA(hwnd_, GWL_EXSTYLE));
  saved_menu_ = GetMenu(hwnd_);
  saved_placement_ = WINDOWPLACEMENT{};
  saved_placement_.length = sizeof saved_placement_;
  if (!window_.GetPlacement(&saved_placement_)) {
    Log("[DtssManager::_SetWindowSetting] can't get window information.\n");
    return false;
  }
  window_saved_ = 1;
  SetMenu(hwnd_, nullptr);
  SetWindowLongA(hwnd_, GWL_STYLE, static_cast<LONG>((saved_style_ & 0xFF00FFFFu) | WS_POPUP));
  window_.SetClientSize(width_, height_);
  SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
  return true;
}

void DtssManager::_RestoreWindow() {
  if (window_saved_) {
    SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
    SetWindowLongA(hwnd_, GWL_STYLE, static_cast<LONG>(saved_style_));
    SetWindowLongA(hwnd_, GWL_EXSTYLE, static_cast<LONG>(saved_ex_style_));
    SetMenu(hwnd_, saved_menu_);
    window_.SetPlacement(&saved_placement_);
  }
  window_saved_ = 0;
}

bool DtssManager::_SetExclusive() {
  if (!ddraw_) return false;
  if (fullscreen_) {
    if (FAILED(ddraw_->SetCooperativeLevel(
            hwnd_, DDSCL_FULLSCREEN | DDSCL_ALLOWREBOOT | DDSCL_EXCLUSIVE | DDSCL_FPUSETUP))) {
      Log("[DtssManager::_SetExclusive] can't set cooperative level(full).\n");
      return false;
    }
    if (FAILED(
            ddraw_->SetDisplayMode(static_cast<DWORD>(width_), static_cast<DWORD>(height_), depth_, 0, 0))) {
      DDebugLog() << "[DtssManager::_SetExclusive] can't set diplay mode(" << static_cast<int>(width_) << "x"
                  << static_cast<int>(height_) << "x" << static_cast<int>(depth_) << ").\n";
      return false;
    }
    return true;
  }
  if (FAILED(ddraw_->SetCooperativeLevel(
          nullptr, DDSCL_NORMAL | DDSCL_NOWINDOWCHANGES | DDSCL_ALLOWREBOOT | DDSCL_FPUSETUP))) {
    Log("[DtssManager::_SetExclusive] can't set cooperative level(normal).\n");
    return false;
  }
  return true;
}

bool DtssManager::_AttachClipper(bool flip_to_gdi) {
  IDirectDrawClipper* clipper = nullptr;
  if (FAILED(ddraw_->CreateClipper(0, &clipper, nullptr))) return false;
  clipper->SetHWnd(0, hwnd_);
  if (flip_to_gdi) ddraw_->FlipToGDISurface();
  HRESULT hr = primary_->SetClipper(clipper);
  clipper->Release();
  return SUCCEEDED(hr);
}

bool DtssManager::_CreateDisplaySurfaces() {
  SafeRelease(back_);
  SafeRelease(primary_);
  if (!ddraw_) return false;
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  if (fullscreen_) {
    d.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    d.dwBackBufferCount = 1;
  } else {
    d.dwFlags = DDSD_CAPS;
    d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
  }
  if (FAILED(ddraw_->CreateSurface(&d, &primary_, nullptr))) {
    primary_ = nullptr;
    Log("[DtssManager::_CreateDisplaySurfaces] can't create a primary surface.\n");
    return false;
  }
  if (!fullscreen_ || gdi_count_ >= 1) {
    if (!_AttachClipper(fullscreen_ != 0)) {
      Log("[DtssManager::_CreateDisplaySurfaces] can't create a clipper.\n");
      return false;
    }
  }
  if (fullscreen_) {
    DDSCAPS2 caps{DDSCAPS_BACKBUFFER, 0, 0, 0};
    if (FAILED(primary_->GetAttachedSurface(&caps, &back_))) {
      back_ = nullptr;
      Log("[DtssManager::_CreateDisplaySurfaces] can't get attached back surface.\n");
      return false;
    }
    back_->AddRef();
    present_ = DRect(0, 0, width_, height_);
  } else {
    DRect client = window_.GetClientRect();
    POINT origin{0, 0};
    ClientToScreen(hwnd_, &origin);
    int32_t right = client.x + client.width, bottom = client.y + client.height;
    present_ = DRect(origin.x, origin.y, right, bottom);
    DDSURFACEDESC2 b{};
    b.dwSize = sizeof b;
    b.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    b.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE;
    b.dwWidth = static_cast<DWORD>(right);
    b.dwHeight = static_cast<DWORD>(bottom);
    if (right <= 0 || bottom <= 0 || FAILED(ddraw_->CreateSurface(&b, &back_, nullptr))) {
      back_ = nullptr;
      Log("[DtssManager::_CreateDisplaySurfaces] can't create a back buffer.\n");
      return false;
    }
  }
  back_pf_ = DDPIXELFORMAT{};
  back_pf_.dwSize = sizeof back_pf_;
  if (FAILED(back_->GetPixelFormat(&back_pf_))) {
    Log("[DtssManager::_CreateDisplaySurfaces] can't get back formats.\n");
    return false;
  }
  const DDPIXELFORMAT& p = back_pf_;
  if (p.dwRGBBitCount == 16 && p.dwRBitMask == 0xF800 && p.dwGBitMask == 0x07E0 && p.dwBBitMask == 0x001F)
    back_format_ = 6;
  else if (p.dwRGBBitCount == 16 && p.dwRBitMask == 0x7C00 && p.dwGBitMask == 0x03E0 &&
           p.dwBBitMask == 0x001F)
    back_format_ = 4;
  else if (p.dwRGBBitCount == 16 && p.dwRBitMask == 0x0F00 && p.dwGBitMask == 0x00F0 &&
           p.dwBBitMask == 0x000F)
    back_format_ = 5;
  else if (p.dwRGBBitCount == 24 && p.dwRBitMask == 0xFF0000 && p.dwGBitMask == 0xFF00 &&
           p.dwBBitMask == 0xFF)
    back_format_ = 3;
  else if (p.dwRGBBitCount == 32 && p.dwRBitMask == 0xFF0000 && p.dwGBitMask == 0xFF00 &&
           p.dwBBitMask == 0xFF)
    back_format_ = 2;
  else {
    Log("[DtssManager::_CreateDisplaySurfaces] can't get back formats.\n");
    return false;
  }
  DDebugLog() << "[DtssManager::_CreateDisplaySurfaces]  Back format \"" << FormatName(back_format_)
              << "\". \n";
  return true;
}

void DtssManager::_ReleaseDevice() {
  SafeRelease(device_);
  texture0_ = texture1_ = nullptr;
}

void DtssManager::_ReleaseD3D() {
  if (ddraw_) ddraw_->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
  _RestoreWindow();
  _ReleaseDevice();
  _ReleaseSurfaces();
  SafeRelease(d3d_);
  SafeRelease(ddraw_);
}

void DtssManager::_ReleaseSurfaces() {
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next()) it.Value()->_ReleaseTexture();
  image_dirty_ |= 1;
  if (multitexture_) {
    for (auto it = wipes_.Begin(); !(it == wipes_.End()); it = it.Next()) it.Value()->_ReleaseTextures();
    wipe_dirty_ |= 1;
  }
  SafeRelease(back_);
  SafeRelease(primary_);
}

bool DtssManager::_ResetDevice() {
  _ReleaseDevice();
  _ReleaseSurfaces();
  if (_CreateDisplaySurfaces() && _CreateDevice()) return true;
  _ReleaseDevice();
  _ReleaseSurfaces();
  return false;
}

bool DtssManager::_CheckLost() {
  if (!primary_) return _ResetDevice();
  if (SUCCEEDED(primary_->IsLost())) return true;
  if (FAILED(primary_->Restore()) || (!fullscreen_ && back_ && FAILED(back_->Restore())))
    return _ResetDevice();
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next()) it.Value()->_RestoreTexture();
  image_dirty_ |= 1;
  for (auto it = wipes_.Begin(); !(it == wipes_.End()); it = it.Next()) it.Value()->_Restore();
  wipe_dirty_ |= 1;
  return true;
}

void DtssManager::UseGDI(bool on) {
  if (on) {
    if (++gdi_count_ == 1 && fullscreen_ && ddraw_ && primary_) _AttachClipper(true);
  } else {
    if (--gdi_count_ == 0 && fullscreen_ && primary_) primary_->SetClipper(nullptr);
  }
}

bool DtssManager::SetWindowSize(int32_t width, int32_t height) {
  if (!hwnd_) return false;
  if (width == width_ && height == height_) return true;
  bool was_full = fullscreen_ != 0;
  _ReleaseDevice();
  _ReleaseSurfaces();
  fullscreen_ = 0;
  if (was_full && !_SetExclusive()) return false;
  _RestoreWindow();
  width_ = width;
  height_ = height;
  window_.SetClientSize(width, height);
  fullscreen_ = was_full ? 1 : 0;
  if (!_SetWindowSetting()) return false;
  if (fullscreen_ && !_SetExclusive()) return false;
  return _ResetDevice();
}

bool DtssManager::SetFullscreen(bool fullscreen) {
  if (!hwnd_) return false;
  if ((fullscreen_ != 0) == fullscreen) return true;
  bool old = fullscreen_ != 0;
  auto switch_to = [this](bool full) {
    _ReleaseDevice();
    _ReleaseSurfaces();
    _RestoreWindow();
    fullscreen_ = full ? 1 : 0;
    return _SetWindowSetting() && _SetExclusive() && _ResetDevice();
  };
  if (switch_to(fullscreen)) return true;
  if (!switch_to(old)) {
    _ReleaseDevice();
    _ReleaseSurfaces();
  }
  return false;
}

void DtssManager::SetFlipscreen(bool flip) {
  if (flip)
    flags_ &= ~kDtssBlitPresent;
  else
    flags_ |= kDtssBlitPresent;
}

void DtssManager::GetWindowSize(int32_t* width, int32_t* height) const {
  if (width) *width = width_;
  if (height) *height = height_;
}

HRESULT DtssManager::_EnumModeCallback(LPDDSURFACEDESC2 desc, LPVOID context) {
  ModeContext* c = static_cast<ModeContext*>(context);
  if ((desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT)) !=
      (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT))
    return DDENUMRET_OK;
  if (static_cast<int32_t>(desc->dwWidth) == c->width && static_cast<int32_t>(desc->dwHeight) == c->height &&
      desc->ddpfPixelFormat.dwRGBBitCount == c->depth) {
    c->found = true;
    return DDENUMRET_CANCEL;
  }
  return DDENUMRET_OK;
}

bool DtssManager::CheckFullscreenSize(int32_t width, int32_t height) {
  if (!ddraw_) return false;
  ModeContext c{width, height, depth_, false};
  return SUCCEEDED(ddraw_->EnumDisplayModes(0, nullptr, &c, _EnumModeCallback)) && c.found;
}

bool DtssManager::OnMessage(LRESULT* result, DWindow*, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_MOVE: {
      POINT origin{0, 0};
      ClientToScreen(hwnd_, &origin);
      present_.x = origin.x;
      present_.y = origin.y;
      return true;
    }
    case WM_PAINT:
      ValidateRect(hwnd_, nullptr);
      if (hwnd_) {
        Render();
        Present();
      }
      return false;
    case WM_ERASEBKGND:
      *result = 1;
      return false;
    case WM_SETCURSOR:
      if (fullscreen_ && gdi_count_ <= 0) {
        SetCursor(nullptr);
        *result = 1;
        return false;
      }
      return true;
    default:
      return true;
  }
}

void DtssManager::Destroy() {
  if (!hwnd_) return;
  while (!wipes_.IsEmpty()) {
    DRef<DtssWipe> wipe = wipes_.Front();  // holds the wipe while it leaves the list
    wipe->Release();
    if (!wipes_.IsEmpty() && wipes_.Front().Get() == wipe.Get()) wipes_.Erase(wipes_.Begin());
  }
  while (!images_.IsEmpty()) {
    DRef<DtssImage> image = images_.Front();  // holds the image while it leaves the list
    image->Release();
    if (!images_.IsEmpty() && images_.Front().Get() == image.Get()) images_.Erase(images_.Begin());
  }
  level_count_ = 0;
  levels_.Release();
  if (GetOwner()) Detach();
  _ReleaseD3D();
  images_.Clear();
  wipes_.Clear();
  hwnd_ = nullptr;
  window_ = DWindow();
  D3DXUninitialize();
}
