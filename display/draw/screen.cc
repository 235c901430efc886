// The Draw unit's screen: start-up and shutdown, the back image's DIB section, presenting in a
// window or in exclusive full screen, the message hook, GDI use and the image factories.
#include "display/draw/screen.h"

#include <algorithm>
#include <cstring>

#include "base/dwindow.h"

namespace {

struct DibInfo {
  BITMAPINFOHEADER header;
  DWORD masks[3];
};

HRESULT CALLBACK DetectModeCallback(LPDDSURFACEDESC2 d, LPVOID context) {
  const DDPIXELFORMAT& pf = d->ddpfPixelFormat;
  if (!(d->dwFlags & DDSD_PIXELFORMAT) || !(pf.dwFlags & DDPF_RGB) || pf.dwRGBBitCount != 16)
    return DDENUMRET_OK;
  std::uint32_t* format = static_cast<std::uint32_t*>(context);
  if (pf.dwRBitMask == 0x7C00 && pf.dwGBitMask == 0x03E0 && pf.dwBBitMask == 0x001F) {
    *format = 4;
    return DDENUMRET_CANCEL;
  }
  if (pf.dwRBitMask == 0xF800 && pf.dwGBitMask == 0x07E0 && pf.dwBBitMask == 0x001F) {
    *format = 6;
    return DDENUMRET_CANCEL;
  }
  return DDENUMRET_OK;
}

struct SizeQuery {
  DWORD width, height;
  bool found = false;
};

HRESULT CALLBACK SizeModeCallback(LPDDSURFACEDESC2 d, LPVOID context) {
  SizeQuery* q = static_cast<SizeQuery*>(context);
  const DWORD need = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  if ((d->dwFlags & need) != need || d->dwWidth != q->width || d->dwHeight != q->height) return DDENUMRET_OK;
  if (!(d->ddpfPixelFormat.dwFlags & DDPF_RGB) || d->ddpfPixelFormat.dwRGBBitCount != 16) return DDENUMRET_OK;
  q->found = true;
  return DDENUMRET_CANCEL;
}

template <class T>
void ReleaseCom(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

}  // namespace

Screen::~Screen() {
  // A window destroyed first has already dropped the screen from its chain: release anyway.
  if (!Shutdown() && hwnd_) ReleaseAll();
}

// ---- Start-up and shutdown.

bool Screen::Init(DWindow& window) {
  if (hwnd_ || GetOwner() || !window.AddListener(*this)) return false;
  window_ = &window;
  hwnd_ = window.GetHandle();
  gdi_count_ = 0;
  flags_ = 0;
  format_ = DetectFormat();
  size_ = DPoint(640, 480);
  dib_size_ = DPoint(0, 0);
  memory_dc_ = CreateCompatibleDC(nullptr);
  if (!memory_dc_ || !ApplySize() || !screen_image_.Attach(this, &dib_view_) ||
      !sprites_.Attach(GetImageRef())) {
    Shutdown();
    return false;
  }
  screen_image_.Fill(0);
  stretch_ = false;
  return true;
}

bool Screen::Shutdown() {
  if (!GetOwner() || !Detach()) return false;
  ReleaseAll();
  return true;
}

void Screen::ReleaseAll() {
  sprites_.Detach();
  screen_image_.Destroy();
  LeaveFullscreen();
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next()) it.Value()->registration_ = {};
  images_.Clear();
  dib_view_.Destroy();
  if (dib_) {
    SelectObject(memory_dc_, old_bitmap_);
    DeleteObject(dib_);
  }
  dib_ = nullptr;
  old_bitmap_ = nullptr;
  dib_bits_ = nullptr;
  dib_size_ = DPoint(0, 0);
  if (memory_dc_) DeleteDC(memory_dc_);
  memory_dc_ = nullptr;
  hwnd_ = nullptr;
  window_ = nullptr;
}

std::uint32_t Screen::DetectFormat() {
  IDirectDraw7* dd = nullptr;
  if (DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd), IID_IDirectDraw7, nullptr) != DD_OK || !dd)
    return 6;
  std::uint32_t format = 6;
  DDCAPS caps{};
  caps.dwSize = sizeof caps;
  if (dd->GetCaps(&caps, nullptr) == DD_OK) dd->EnumDisplayModes(0, nullptr, &format, DetectModeCallback);
  dd->Release();
  return format;
}

bool Screen::CheckFullscreenSize(std::int32_t width, std::int32_t height) {
  IDirectDraw7* dd = nullptr;
  if (DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&dd), IID_IDirectDraw7, nullptr) != DD_OK || !dd)
    return false;
  SizeQuery q{static_cast<DWORD>(width), static_cast<DWORD>(height)};
  dd->EnumDisplayModes(0, nullptr, &q, SizeModeCallback);
  dd->Release();
  return q.found;
}

bool Screen::ApplySize() {
  if (!dib_ || dib_size_.x < size_.x || dib_size_.y < size_.y) {
    DPoint grown(std::max(dib_size_.x, size_.x), std::max(dib_size_.y, size_.y));
    DibInfo info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = grown.x;
    info.header.biHeight = -grown.y;
    info.header.biPlanes = 1;
    info.header.biBitCount = 16;
    info.header.biCompression = BI_BITFIELDS;
    if (format_ == 4) {
      info.masks[0] = 0x7C00, info.masks[1] = 0x03E0, info.masks[2] = 0x001F;
    } else {
      info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
    }
    void* bits = nullptr;
    // The new section is made before the old one goes, so a failure keeps the old one.
    HBITMAP made = CreateDIBSection(memory_dc_, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                    &bits, nullptr, 0);
    if (!made || !bits) return false;
    HGDIOBJ previous = SelectObject(memory_dc_, made);
    if (dib_) {
      DeleteObject(dib_);
    } else {
      old_bitmap_ = previous;
    }
    dib_ = made;
    dib_bits_ = static_cast<std::uint8_t*>(bits);
    dib_size_ = grown;
  }
  dib_view_.Destroy();
  DRef<std::uint8_t> pixels;
  pixels.Attach(dib_bits_);
  std::uint32_t pitch = (static_cast<std::uint32_t>(dib_size_.x) * 2 + 3) & ~3u;
  return dib_view_.Attach(pixels, static_cast<std::uint32_t>(size_.x), static_cast<std::uint32_t>(size_.y),
                          pitch, static_cast<DimgFormat>(format_));
}

bool Screen::SetSize(std::int32_t width, std::int32_t height, bool resize_window) {
  if (width == size_.x && height == size_.y) return true;
  if (!hwnd_ || width <= 0 || height <= 0) return false;
  const std::uint64_t row = (std::uint64_t(std::max(width, dib_size_.x)) * 2 + 3) & ~std::uint64_t{3};
  if (row * std::uint64_t(std::max(height, dib_size_.y)) > DImage::kMaxStorage) return false;
  const bool was_full = IsFullscreen();
  sprites_.SetAllDirty();
  if (was_full) {
    InvalidateRect(hwnd_, nullptr, FALSE);
    LeaveFullscreen();
  }
  DPoint old = size_;
  size_ = DPoint(width, height);
  if (!ApplySize()) {
    size_ = old;
    ApplySize();  // the old view over the kept section
    return false;
  }
  if (resize_window && window_) window_->SetClientSize(width, height);
  screen_image_.Destroy();
  screen_image_.Attach(this, &dib_view_);
  sprites_.Reattach(GetImageRef());
  if (was_full) {
    sprites_.SetAllDirty();
    if (!IsFullscreen()) EnterFullscreen();
  }
  return true;
}

// ---- Full screen.

bool Screen::SetFullscreen(bool on) {
  sprites_.SetAllDirty();
  if (!on) {
    if (IsFullscreen()) {
      InvalidateRect(hwnd_, nullptr, FALSE);
      LeaveFullscreen();
    }
    return true;
  }
  if (IsFullscreen()) return true;
  return hwnd_ && EnterFullscreen();
}

bool Screen::EnterFullscreen() {
  InvalidateRect(hwnd_, nullptr, FALSE);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(hwnd_, &placement)) return false;
  placement_ = placement;
  style_ = GetWindowLongA(hwnd_, GWL_STYLE);
  ex_style_ = GetWindowLongA(hwnd_, GWL_EXSTYLE);
  menu_ = GetMenu(hwnd_);
  saved_window_ = true;
  SetMenu(hwnd_, nullptr);
  SetWindowLongA(hwnd_, GWL_STYLE, static_cast<LONG>((static_cast<DWORD>(style_) & 0xFF00FFFFu) | WS_POPUP));
  SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, 0x43);
  bool ok =
      DirectDrawCreateEx(nullptr, reinterpret_cast<void**>(&ddraw_), IID_IDirectDraw7, nullptr) == DD_OK &&
      ddraw_;
  if (ok) {
    ok = ddraw_->SetCooperativeLevel(hwnd_, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE) == DD_OK &&
         ddraw_->SetDisplayMode(static_cast<DWORD>(size_.x), static_cast<DWORD>(size_.y), 16, 0, 0) == DD_OK;
  }
  if (ok) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    desc.dwBackBufferCount = 1;
    DDSCAPS2 caps{DDSCAPS_BACKBUFFER, 0, 0, 0};
    ok = ddraw_->CreateSurface(&desc, &primary_, nullptr) == DD_OK && primary_ &&
         primary_->GetAttachedSurface(&caps, &back_) == DD_OK && back_;
  }
  if (!ok) {
    LeaveFullscreen();
    return false;
  }
  if (gdi_count_ >= 1) AttachClipper();
  return true;
}

void Screen::LeaveFullscreen() {
  ReleaseCom(back_);
  ReleaseCom(primary_);
  if (ddraw_) {
    ddraw_->SetCooperativeLevel(hwnd_, DDSCL_NORMAL);
    ReleaseCom(ddraw_);
  }
  // Also after an entry that failed before the DirectDraw object existed: the window comes back.
  if (saved_window_ && hwnd_) {
    SetWindowLongA(hwnd_, GWL_STYLE, style_);
    SetWindowLongA(hwnd_, GWL_EXSTYLE, ex_style_);
    SetMenu(hwnd_, menu_);
    SetWindowPlacement(hwnd_, &placement_);
    SetWindowPos(hwnd_, HWND_TOP, 0, 0, 0, 0, 0x43);
  }
  saved_window_ = false;
}

bool Screen::AttachClipper() {
  IDirectDrawClipper* clipper = nullptr;
  if (!ddraw_ || !primary_ || ddraw_->CreateClipper(0, &clipper, nullptr) != DD_OK || !clipper) return false;
  clipper->SetHWnd(0, hwnd_);
  ddraw_->FlipToGDISurface();
  primary_->SetClipper(clipper);
  clipper->Release();
  return true;
}

void Screen::UseGDI(bool enter) {
  sprites_.SetAllDirty();
  if (!enter) {
    if (--gdi_count_ == 0 && primary_) primary_->SetClipper(nullptr);
    return;
  }
  if (++gdi_count_ == 1 && IsFullscreen() && AttachClipper()) InvalidateRect(hwnd_, nullptr, FALSE);
}

void Screen::SetFlipMapping(bool stretch, std::int32_t dx, std::int32_t dy, std::int32_t dw, std::int32_t dh,
                            std::int32_t sx, std::int32_t sy, std::int32_t sw, std::int32_t sh) {
  stretch_ = stretch;
  dst_rect_ = DRect(dx, dy, dw, dh);
  src_rect_ = DRect(sx, sy, sw, sh);
}

// ---- Presenting.

HDC Screen::SurfaceDC(IDirectDrawSurface7* surface) {
  if (!surface) return nullptr;
  for (int i = 0; i < kStillDrawingRetries; ++i) {
    HDC dc = nullptr;
    HRESULT hr = surface->GetDC(&dc);
    if (hr == DD_OK) return dc;
    if (hr != DDERR_WASSTILLDRAWING) return nullptr;
  }
  return nullptr;
}

bool Screen::WaitBlt() {
  for (int i = 0; i < kStillDrawingRetries; ++i)
    if (back_->GetBltStatus(DDGBS_ISBLTDONE) != DDERR_WASSTILLDRAWING) return true;
  return false;
}

void Screen::CopyTo(HDC dc, bool whole, bool runs) {
  if (stretch_) {
    // Source pixels outside the back image are not read.
    DRect s = src_rect_;
    std::int64_t sx1 = std::min<std::int64_t>(std::int64_t(s.x) + s.width, size_.x);
    std::int64_t sy1 = std::min<std::int64_t>(std::int64_t(s.y) + s.height, size_.y);
    if (s.x < 0 || s.y < 0 || sx1 <= s.x || sy1 <= s.y) return;
    if (sx1 - s.x != s.width || sy1 - s.y != s.height) {
      // Cut the destination in proportion to the part of the source that remains.
      std::int64_t dw = std::int64_t(dst_rect_.width) * (sx1 - s.x) / std::max(1, s.width);
      std::int64_t dh = std::int64_t(dst_rect_.height) * (sy1 - s.y) / std::max(1, s.height);
      StretchBlt(dc, dst_rect_.x, dst_rect_.y, static_cast<int>(dw), static_cast<int>(dh), memory_dc_, s.x,
                 s.y, static_cast<int>(sx1 - s.x), static_cast<int>(sy1 - s.y), SRCCOPY);
      return;
    }
    StretchBlt(dc, dst_rect_.x, dst_rect_.y, dst_rect_.width, dst_rect_.height, memory_dc_, s.x, s.y, s.width,
               s.height, SRCCOPY);
    return;
  }
  if (whole || !runs) {
    BitBlt(dc, 0, 0, size_.x, size_.y, memory_dc_, 0, 0, SRCCOPY);
    return;
  }
  const std::uint8_t* grid = sprites_.GetGrid();
  if (!grid) return;
  const std::int32_t cs = sprites_.GetCellSize(), cols = sprites_.GetColumns();
  for (std::int32_t r = 0; r < sprites_.GetRows(); ++r) {
    const std::int32_t y = r * cs, h = std::min(cs, size_.y - y);
    std::int32_t start = -1;
    for (std::int32_t c = 0; c <= cols; ++c) {
      bool dirty = c < cols && grid[std::size_t(r) * cols + c];
      if (dirty && start < 0) start = c;
      if (!dirty && start >= 0) {
        // Runs are cut at the screen's edge (27 cells of 24 are 648 > 640).
        const std::int32_t x = start * cs, w = std::min((c - start) * cs, size_.x - x);
        if (w > 0 && h > 0) BitBlt(dc, x, y, w, h, memory_dc_, x, y, SRCCOPY);
        start = -1;
      }
    }
  }
}

void Screen::Present() {
  if (!hwnd_ || !memory_dc_) return;
  if (!IsFullscreen()) {
    HDC dc = GetDC(hwnd_);
    if (!dc) return;
    CopyTo(dc, (flags_ & 1) && gdi_count_ <= 0, true);
    ReleaseDC(hwnd_, dc);
    GdiFlush();
    return;
  }
  IDirectDrawSurface7* target = ((flags_ & 1) || gdi_count_ > 0) ? back_ : primary_;
  HDC dc = SurfaceDC(target);
  if (!dc) return;
  CopyTo(dc, (flags_ & 1) && gdi_count_ <= 0, true);
  target->ReleaseDC(dc);
  GdiFlush();
  if (target != back_) return;
  if (!WaitBlt()) return;  // the frame is given up
  if (gdi_count_ <= 0) {
    primary_->Flip(nullptr, DDFLIP_DONOTWAIT);
  } else {
    primary_->Blt(nullptr, back_, nullptr, DDBLT_WAIT, nullptr);
  }
}

bool Screen::OnMessage(LRESULT* result, DWindow*, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_PAINT: {
      *result = 0;
      if (IsFullscreen()) {
        HDC dc = SurfaceDC(back_);
        if (!dc) {
          // Lost or busy: nothing is drawn, but the window is not left invalid (which would
          // make WM_PAINT come back at once, for ever).
          ValidateRect(hwnd_, nullptr);
          return false;
        }
        CopyTo(dc, true, false);
        back_->ReleaseDC(dc);
        GdiFlush();
        ValidateRect(hwnd_, nullptr);
        if (WaitBlt()) primary_->Blt(nullptr, back_, nullptr, DDBLT_WAIT, nullptr);
        return false;
      }
      PAINTSTRUCT ps{};
      HDC dc = BeginPaint(hwnd_, &ps);
      if (dc) {
        if (stretch_) {
          CopyTo(dc, true, false);
        } else {
          // The paint rectangle, cut to the back image (the section may be larger than it).
          const RECT& r = ps.rcPaint;
          LONG right = std::min<LONG>(r.right, size_.x), bottom = std::min<LONG>(r.bottom, size_.y);
          if (right > r.left && bottom > r.top)
            BitBlt(dc, r.left, r.top, right - r.left, bottom - r.top, memory_dc_, r.left, r.top, SRCCOPY);
        }
      }
      EndPaint(hwnd_, &ps);
      GdiFlush();
      return false;
    }
    case WM_ERASEBKGND:
      *result = 1;
      return false;
    case WM_ACTIVATEAPP:
      if (wparam == 1) {
        if (primary_) primary_->Restore();
        if (back_) back_->Restore();
      }
      InvalidateRect(hwnd_, nullptr, FALSE);
      return true;
    case WM_SETCURSOR:
      if (IsFullscreen() && gdi_count_ <= 0) {
        SetCursor(nullptr);
        *result = 1;
        return false;
      }
      return true;
    default:
      return true;
  }
}

// ---- Images.

DRef<ConnectedImage> Screen::GetImageRef() {
  DRef<ConnectedImage> r;
  r.Attach(&screen_image_);
  return r;
}

DRef<DrawImage> Screen::Register(DRef<DrawImage> image) {
  DRef<DrawImage> entry;
  entry.Attach(image.Get());
  image->registration_ = images_.PushBack(entry);
  return image;
}

DRef<DrawImage> Screen::CreateImage(std::int32_t width, std::int32_t height) {
  DRef<DrawImage> image;
  image.Alloc(1);
  if (!image->Create(this, width, height)) return {};
  return Register(image);
}

DRef<DrawImage> Screen::CreateMovieImage(std::int32_t width, std::int32_t height) {
  DRef<DrawImage> image;
  image.Alloc(1);
  if (!image->CreateBottomUp(this, width, height)) return {};
  return Register(image);
}

DRef<DrawImage> Screen::CopyImage(const DRef<DrawImage>& source) {
  DRef<DrawImage> image;
  image.Alloc(1);
  if (!image->CopyFrom(source)) return {};
  return Register(image);
}

DRef<DrawImage> Screen::DuplicateImage(const DRef<DrawImage>& source) {
  DRef<DrawImage> image;
  image.Alloc(1);
  if (!image->Duplicate(source)) return {};
  return Register(image);
}

DRef<WipeMap> Screen::LoadWipe(const DImage& source, std::int32_t mode) {
  DRef<WipeMap> map;
  map.Alloc(1);
  if (!BuildWipeMap(*map, source, mode, screen_image_)) return {};
  return map;
}

void Screen::_UnregisterImage(DrawImage& image) {
  if (image.registration_.Node()) images_.Erase(image.registration_);
  image.registration_ = {};
}

void Screen::SetSpriteImageDraw(bool on) {
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next()) it.Value()->SetDraw(on);
}

void Screen::PushSpriteImageStatus() {
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next()) it.Value()->PushStatus();
}

void Screen::PopSpriteImageStatus() {
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next()) it.Value()->PopStatus();
}

Screen& DrawScreen() {
  static Screen screen;
  return screen;
}

DRef<ImageHandle> MakeScreenImageHandle(Screen& screen) {
  DRef<ImageHandle> handle;
  handle.Alloc(1);
  handle->Attach(screen.GetImageRef());
  return handle;
}
