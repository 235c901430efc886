// DtssImage: the source copy in system memory, the texture window, uploads and edge padding.
#include "display/tss/dtss_image.h"

#include <algorithm>
#include <cmath>

#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "imaging/dimage.h"
#include "imaging/dimg_blit.h"
#include "imaging/dimg_clip.h"

namespace {

// A colour component 0.0..1.0 as an integer 0..max, truncated; out of range clamped, NaN 0.
uint32_t Component(float v, uint32_t max) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return max;
  return static_cast<uint32_t>(v * static_cast<float>(max));
}

uint32_t NextPow2(int32_t v) {
  uint32_t p = 1;
  while (p < static_cast<uint32_t>(v) && p < (1u << 30)) p <<= 1;
  return p;
}

}  // namespace

DtssImage::~DtssImage() {
  Release();
}

bool DtssImage::Init(DtssManager* manager, int32_t width, int32_t height, const DImage& source) {
  if (manager_ || !manager) return false;
  texture_ = nullptr;
  system_ = nullptr;
  manager_ = manager;
  flags_ = 0;
  dynamic_ = 0;
  if (height <= 0) height = static_cast<int32_t>(source.GetHeight());
  if (width <= 0) width = static_cast<int32_t>(source.GetWidth());
  size_ = DPoint(width, height);
  pos_ = source_size_ = texture_size_ = DPoint();
  dirty_ = DRect();
  if (!Load(source)) {
    manager_ = nullptr;
    return false;
  }
  return true;
}

bool DtssImage::Load(const DImage& source) {
  if (system_) {
    system_->Release();
    system_ = nullptr;
  }
  if (dynamic_ || !manager_ || !manager_->GetDirectDraw()) return false;
  uint32_t sw = source.GetWidth(), sh = source.GetHeight();
  if (sw == 0 || sh == 0 || sw > 32768 || sh > 32768) return false;
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  d.ddsCaps.dwCaps = DDSCAPS_SYSTEMMEMORY | DDSCAPS_OFFSCREENPLAIN;
  d.dwWidth = sw;
  d.dwHeight = sh;
  d.ddpfPixelFormat = manager_->GetTexturePixelFormat();
  if (FAILED(manager_->GetDirectDraw()->CreateSurface(&d, &system_, nullptr))) {
    system_ = nullptr;
    return false;
  }
  DDSURFACEDESC2 l{};
  l.dwSize = sizeof l;
  if (FAILED(system_->Lock(nullptr, &l, DDLOCK_WAIT, nullptr))) return false;
  DRef<uint8_t> memory;
  memory.Attach(static_cast<uint8_t*>(l.lpSurface));
  DImage view;
  if (view.Attach(memory, sw, sh, static_cast<uint32_t>(l.lPitch),
                  static_cast<DimgFormat>(manager_->GetTextureFormat())))
    DimgBltUnscaled(view, source, 0, 0, sw, sh, 0, 0);
  system_->Unlock(nullptr);
  pos_ = DPoint();
  source_size_ = DPoint(static_cast<int32_t>(sw), static_cast<int32_t>(sh));
  WholeWindowDirty();
  manager_->SetImagesDirty();
  return true;
}

bool DtssImage::InitDynamic(DtssManager* manager, int32_t width, int32_t height) {
  if (manager_ || !manager) return false;
  manager_ = manager;
  system_ = texture_ = nullptr;
  flags_ = 1;
  dynamic_ = 1;
  size_ = DPoint(width, height);
  pos_ = source_size_ = texture_size_ = DPoint();
  dirty_ = DRect();
  return true;
}

bool DtssImage::IsLost() {
  if (!dynamic_) return false;
  bool lost = (flags_ & 1) != 0;
  flags_ &= ~1u;
  return lost;
}

void DtssImage::SetPos(int32_t x, int32_t y) {
  if (!manager_) return;
  int64_t nx = x, ny = y;
  if (nx + size_.x > source_size_.x) nx = int64_t{source_size_.x} - size_.x;
  if (nx < 0) nx = 0;
  if (ny + size_.y > source_size_.y) ny = int64_t{source_size_.y} - size_.y;
  if (ny < 0) ny = 0;
  pos_ = DPoint(static_cast<int32_t>(nx), static_cast<int32_t>(ny));
  WholeWindowDirty();
  manager_->SetImagesDirty();
}

void DtssImage::AddDirtyRect(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!manager_) return;
  int64_t nx = int64_t{x} - pos_.x, ny = int64_t{y} - pos_.y;
  auto clamp = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  if (dirty_.width == 0) {
    dirty_ = DRect(clamp(nx), clamp(ny), width, height);
  } else {
    int64_t left = std::min<int64_t>(dirty_.x, nx), top = std::min<int64_t>(dirty_.y, ny);
    int64_t right = std::max<int64_t>(int64_t{dirty_.x} + dirty_.width, nx + width);
    int64_t bottom = std::max<int64_t>(int64_t{dirty_.y} + dirty_.height, ny + height);
    dirty_ = DRect(clamp(left), clamp(top), clamp(right - left), clamp(bottom - top));
  }
  manager_->SetImagesDirty();
}

void DtssImage::Fill(int32_t x, int32_t y, int32_t width, int32_t height, float r, float g, float b,
                     float a) {
  if (!system_ || !manager_) return;
  uint32_t w = width < 0 ? 0 : static_cast<uint32_t>(width),
           h = height < 0 ? 0 : static_cast<uint32_t>(height);
  DimgClip(x, y, w, h, static_cast<uint32_t>(source_size_.x), static_cast<uint32_t>(source_size_.y));
  if (w == 0 || h == 0) return;
  DDBLTFX fx{};
  fx.dwSize = sizeof fx;
  if (manager_->GetTextureFormat() == 2)
    fx.dwFillColor =
        Component(a, 255) << 24 | Component(r, 255) << 16 | Component(g, 255) << 8 | Component(b, 255);
  else
    fx.dwFillColor =
        Component(a, 15) << 12 | Component(r, 15) << 8 | Component(g, 15) << 4 | Component(b, 15);
  for (int i = 0; i < kDtssMaxWaits && system_->GetBltStatus(DDGBS_ISBLTDONE) == DDERR_WASSTILLDRAWING; ++i) {
  }
  RECT rect{x, y, static_cast<LONG>(x + w), static_cast<LONG>(y + h)};
  system_->Blt(&rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
  AddDirtyRect(x, y, static_cast<int32_t>(w), static_cast<int32_t>(h));
}

uint8_t* DtssImage::Lock(int32_t* pitch) {
  if (!system_) return nullptr;
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  if (FAILED(system_->Lock(nullptr, &d, DDLOCK_WAIT, nullptr))) return nullptr;
  if (pitch) *pitch = d.lPitch;
  return static_cast<uint8_t*>(d.lpSurface);
}

void DtssImage::Unlock() {
  if (system_) system_->Unlock(nullptr);
}

bool DtssImage::_CreateTexture() {
  if (texture_) return true;
  if (!manager_ || !manager_->GetDirectDraw() || size_.x <= 0 || size_.y <= 0) return false;
  uint32_t caps = manager_->GetDeviceDesc().dpcTriCaps.dwTextureCaps;
  uint32_t tw = static_cast<uint32_t>(size_.x), th = static_cast<uint32_t>(size_.y);
  if (caps & D3DPTEXTURECAPS_POW2) {
    tw = NextPow2(size_.x);
    th = NextPow2(size_.y);
  }
  if (caps & D3DPTEXTURECAPS_SQUAREONLY) tw = th = std::max(tw, th);
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT | DDSD_TEXTURESTAGE;
  d.dwWidth = tw;
  d.dwHeight = th;
  d.dwTextureStage = 0;
  d.ddsCaps.dwCaps = DDSCAPS_TEXTURE | (manager_->IsHardware() ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY);
  d.ddpfPixelFormat = dynamic_ ? manager_->GetBackPixelFormat() : manager_->GetTexturePixelFormat();
  if (FAILED(manager_->GetDirectDraw()->CreateSurface(&d, &texture_, nullptr))) {
    texture_ = nullptr;
    return false;
  }
  texture_size_ = DPoint(static_cast<int32_t>(tw), static_cast<int32_t>(th));
  flags_ |= 1;
  WholeWindowDirty();
  return true;
}

bool DtssImage::_Upload() {
  if (!system_) return true;
  if (!_CreateTexture()) return false;
  int32_t dx = dirty_.x, dy = dirty_.y;
  int64_t sx64 = int64_t{dx} + pos_.x, sy64 = int64_t{dy} + pos_.y;
  uint32_t w = dirty_.width < 0 ? 0 : static_cast<uint32_t>(dirty_.width);
  uint32_t h = dirty_.height < 0 ? 0 : static_cast<uint32_t>(dirty_.height);
  if (sx64 >= INT32_MIN && sx64 <= INT32_MAX && sy64 >= INT32_MIN && sy64 <= INT32_MAX) {
    int32_t sx = static_cast<int32_t>(sx64), sy = static_cast<int32_t>(sy64);
    DimgClipBoth(dx, dy, sx, sy, w, h, static_cast<uint32_t>(texture_size_.x),
                 static_cast<uint32_t>(texture_size_.y), static_cast<uint32_t>(source_size_.x),
                 static_cast<uint32_t>(source_size_.y));
    if (w > 0 && h > 0) {
      RECT dr{dx, dy, static_cast<LONG>(dx + w), static_cast<LONG>(dy + h)};
      RECT sr{sx, sy, static_cast<LONG>(sx + w), static_cast<LONG>(sy + h)};
      DtssWaitBlt(texture_, &dr, system_, &sr, DDBLT_WAIT);
      _PadEdges(static_cast<int32_t>(dx + w), static_cast<int32_t>(dy + h));
    }
  }
  dirty_ = DRect();
  return true;
}

void DtssImage::_PadEdges(int32_t right, int32_t bottom) {
  if (!texture_) return;
  int32_t w = size_.x, h = size_.y;
  bool column = right == w && w < texture_size_.x;
  bool row = bottom == h && h < texture_size_.y;
  if (column) {
    RECT s{w - 1, 0, w, h}, d{w, 0, w + 1, h};
    DtssWaitBlt(texture_, &d, texture_, &s, DDBLT_WAIT);
  }
  if (row) {
    RECT s{0, h - 1, w, h}, d{0, h, w, h + 1};
    DtssWaitBlt(texture_, &d, texture_, &s, DDBLT_WAIT);
  }
  if (column && row) {
    RECT s{w - 1, h - 1, w, h}, d{w, h, w + 1, h + 1};
    DtssWaitBlt(texture_, &d, texture_, &s, DDBLT_WAIT);
  }
}

void DtssImage::_RestoreTexture() {
  flags_ |= 1;
  WholeWindowDirty();
  if (texture_ && SUCCEEDED(texture_->Restore())) return;
  _ReleaseTexture();
}

void DtssImage::_ReleaseTexture() {
  flags_ |= 1;
  if (texture_) {
    texture_->Release();
    texture_ = nullptr;
  }
  WholeWindowDirty();
}

void DtssImage::AddSprite(DtssSprite* sprite) {
  if (!manager_ || !sprite) return;
  if (sprites_.IsEmpty()) manager_->SetImagesDirty();
  RemoveSprite(sprite);
  DRef<DtssSprite> handle;
  handle.Attach(sprite);
  sprites_.PushBack(handle);
}

void DtssImage::RemoveSprite(DtssSprite* sprite) {
  for (auto it = sprites_.Begin(); !(it == sprites_.End()); it = it.Next()) {
    if (it.Value().Get() == sprite) {
      sprites_.Erase(it);
      return;
    }
  }
}

void DtssImage::Release() {
  if (!manager_) return;
  while (!sprites_.IsEmpty()) {
    DtssSprite* first = sprites_.Front().Get();
    first->Release();
    if (!sprites_.IsEmpty() && sprites_.Front().Get() == first) sprites_.Erase(sprites_.Begin());
  }
  manager_->_RemoveImage(this);
  sprites_.Clear();
  if (texture_) {
    texture_->Release();
    texture_ = nullptr;
  }
  if (system_) {
    system_->Release();
    system_ = nullptr;
  }
  manager_ = nullptr;
}
