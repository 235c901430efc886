// DtssWipe: the pattern mask, the two level masks and their stage-1 textures.
#include "display/tss/dtss_wipe.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "imaging/dimage.h"
#include "imaging/dimg_blit.h"

namespace {

// Largest pattern side accepted (the texture images' limit).
constexpr uint32_t kMaxPatternSide = 32768;

uint32_t NextPow2(int32_t v) {
  uint32_t p = 1;
  while (p < static_cast<uint32_t>(v) && p < (1u << 30)) p <<= 1;
  return p;
}

void ReleaseSurface(IDirectDrawSurface7*& s) {
  if (s) s->Release();
  s = nullptr;
}

}  // namespace

uint32_t DtssWipeLevelFromFraction(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  return static_cast<uint32_t>(std::lround(v * 255.0f));
}

DtssWipe::~DtssWipe() {
  Release();
}

bool DtssWipe::_CreateMaskSurface(uint32_t width, uint32_t height, IDirectDrawSurface7** out) {
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
  d.ddsCaps.dwCaps = DDSCAPS_SYSTEMMEMORY | DDSCAPS_OFFSCREENPLAIN;
  d.dwWidth = width;
  d.dwHeight = height;
  d.ddpfPixelFormat = manager_->GetTexturePixelFormat();
  if (FAILED(manager_->GetDirectDraw()->CreateSurface(&d, out, nullptr))) {
    *out = nullptr;
    return false;
  }
  return true;
}

bool DtssWipe::Load(DtssManager* manager, const DImage& source) {
  if (manager_ || !manager) return false;
  // An empty pattern would leave nothing to tile by (and divide by zero there): refused on
  // every device, as is one beyond the texture images' limit.
  const uint32_t sw = source.GetWidth(), sh = source.GetHeight();
  if (sw == 0 || sh == 0 || sw > kMaxPatternSide || sh > kMaxPatternSide) return false;
  manager_ = manager;
  dirty_ = 0;
  if (manager_->IsMultitexture()) {
    if (!manager_->GetDirectDraw()) return false;
    mask_size_ = DPoint(static_cast<int32_t>(sw), static_cast<int32_t>(sh));
    const uint32_t width = (sw + 3) & ~3u;
    if (!_CreateMaskSurface(width, sh, &mask_) || !_CreateMaskSurface(width, sh, &mask_a_) ||
        !_CreateMaskSurface(width, sh, &mask_b_))
      return false;
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = 0;
    DtssWaitBlt(mask_, nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
    DDSURFACEDESC2 l{};
    l.dwSize = sizeof l;
    if (FAILED(mask_->Lock(nullptr, &l, DDLOCK_WAIT, nullptr))) return false;
    DRef<uint8_t> memory;
    memory.Attach(static_cast<uint8_t*>(l.lpSurface));
    DImage view;
    if (view.Attach(memory, l.dwWidth, l.dwHeight, static_cast<uint32_t>(l.lPitch),
                    static_cast<DimgFormat>(manager_->GetTextureFormat())))
      DimgBltGreenToAlpha(view, source, 0, 0, sw, sh, 0, 0, sw, sh);
    mask_->Unlock(nullptr);
  }
  level_ = 255;
  SetLevel(0);
  return true;
}

void DtssWipe::SetLevel(uint32_t level) {
  if (!manager_) return;
  if (level > 255) level = 255;
  if (level == level_) return;
  level_ = level;
  if (!manager_->IsMultitexture() || !mask_) return;
  dirty_ = 1;
  manager_->SetWipesDirty();
  _WriteMasks();
}

void DtssWipe::_WriteMasks() {
  DDSURFACEDESC2 m{}, a{}, b{};
  m.dwSize = a.dwSize = b.dwSize = sizeof m;
  bool lm = SUCCEEDED(mask_->Lock(nullptr, &m, DDLOCK_WAIT, nullptr));
  bool la = lm && mask_a_ && SUCCEEDED(mask_a_->Lock(nullptr, &a, DDLOCK_WAIT, nullptr));
  bool lb = la && mask_b_ && SUCCEEDED(mask_b_->Lock(nullptr, &b, DDLOCK_WAIT, nullptr));
  if (lb) {
    const uint32_t format = manager_->GetTextureFormat();
    // The three surfaces were made alike; stay inside the smallest in case they were not.
    const DWORD w = std::min({m.dwWidth, a.dwWidth, b.dwWidth});
    const DWORD h = std::min({m.dwHeight, a.dwHeight, b.dwHeight});
    for (DWORD y = 0; y < h; ++y) {
      const uint8_t* src = static_cast<const uint8_t*>(m.lpSurface) + int64_t{m.lPitch} * y;
      uint8_t* da = static_cast<uint8_t*>(a.lpSurface) + int64_t{a.lPitch} * y;
      uint8_t* db = static_cast<uint8_t*>(b.lpSurface) + int64_t{b.lPitch} * y;
      if (format == 2) {
        const uint32_t t = level_ << 24;
        for (DWORD x = 0; x < w; ++x) {
          uint32_t v, va, vb;
          std::memcpy(&v, src + x * 4, 4);
          va = v < t ? 0x00FFFFFFu : 0xFFFFFFFFu;
          vb = v > t ? 0x00FFFFFFu : 0xFFFFFFFFu;
          std::memcpy(da + x * 4, &va, 4);
          std::memcpy(db + x * 4, &vb, 4);
        }
      } else if (format == 5) {
        const uint32_t t = (level_ & 0xF0) << 8;
        for (DWORD x = 0; x < w; ++x) {
          uint16_t v, va, vb;
          std::memcpy(&v, src + x * 2, 2);
          va = v < t ? 0x0FFF : 0xFFFF;
          vb = v > t ? 0x0FFF : 0xFFFF;
          std::memcpy(da + x * 2, &va, 2);
          std::memcpy(db + x * 2, &vb, 2);
        }
      }
    }
  }
  if (lb) mask_b_->Unlock(nullptr);
  if (la) mask_a_->Unlock(nullptr);
  if (lm) mask_->Unlock(nullptr);
}

void DtssWipe::AddSprite(DtssSprite* sprite) {
  if (!manager_ || !sprite) return;
  // Textures may have been freed while nobody used the wipe.
  if (users_.IsEmpty()) manager_->SetWipesDirty();
  RemoveSprite(sprite);
  DRef<DtssSprite> handle;
  handle.Attach(sprite);
  users_.PushBack(handle);
}

void DtssWipe::RemoveSprite(DtssSprite* sprite) {
  for (auto it = users_.Begin(); !(it == users_.End()); it = it.Next()) {
    if (it.Value().Get() == sprite) {
      users_.Erase(it);
      return;
    }
  }
}

void DtssWipe::_ReleaseTextures() {
  if (!manager_ || !mask_) return;
  ReleaseSurface(texture_a_);
  ReleaseSurface(texture_b_);
  dirty_ = 1;
}

bool DtssWipe::_UpdateTextures() {
  if (!manager_ || !manager_->IsMultitexture() || !mask_ || !mask_a_ || !mask_b_) return true;
  if (!texture_a_ || !texture_b_) {
    _ReleaseTextures();
    if (!manager_->GetDirectDraw()) return false;
    const uint32_t caps = manager_->GetDeviceDesc().dpcTriCaps.dwTextureCaps;
    uint32_t tw = static_cast<uint32_t>(mask_size_.x), th = static_cast<uint32_t>(mask_size_.y);
    if (caps & D3DPTEXTURECAPS_POW2) {
      tw = NextPow2(mask_size_.x);
      th = NextPow2(mask_size_.y);
    }
    if (caps & D3DPTEXTURECAPS_SQUAREONLY) tw = th = std::max(tw, th);
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof d;
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT | DDSD_TEXTURESTAGE;
    d.dwWidth = tw;
    d.dwHeight = th;
    d.dwTextureStage = 1;
    d.ddsCaps.dwCaps =
        DDSCAPS_TEXTURE | (manager_->IsHardware() ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY);
    d.ddpfPixelFormat = manager_->GetTexturePixelFormat();
    if (FAILED(manager_->GetDirectDraw()->CreateSurface(&d, &texture_a_, nullptr))) {
      texture_a_ = nullptr;
      return false;
    }
    if (FAILED(manager_->GetDirectDraw()->CreateSurface(&d, &texture_b_, nullptr))) {
      texture_b_ = nullptr;
      return false;
    }
    texture_size_ = DPoint(static_cast<int32_t>(tw), static_cast<int32_t>(th));
    dirty_ = 1;
  }
  if (dirty_) {
    const LONG mw = mask_size_.x, mh = mask_size_.y;
    const bool right = mw < texture_size_.x, below = mh < texture_size_.y;
    IDirectDrawSurface7* pairs[2][2] = {{texture_a_, mask_a_}, {texture_b_, mask_b_}};
    for (auto& p : pairs) {
      RECT r{0, 0, mw, mh};
      DtssWaitBlt(p[0], &r, p[1], &r, DDBLT_WAIT);
      // Repeat the last column and row once past the pattern, so that filtering at its edge
      // reads the pattern and not the texture's unwritten rest.
      if (right) {
        RECT s{mw - 1, 0, mw, mh}, t{mw, 0, mw + 1, mh};
        DtssWaitBlt(p[0], &t, p[1], &s, DDBLT_WAIT);
      }
      if (below) {
        RECT s{0, mh - 1, mw, mh}, t{0, mh, mw, mh + 1};
        DtssWaitBlt(p[0], &t, p[1], &s, DDBLT_WAIT);
      }
      if (right || below) {
        RECT s{mw - 1, mh - 1, mw, mh}, t{mw, mh, mw + 1, mh + 1};
        DtssWaitBlt(p[0], &t, p[1], &s, DDBLT_WAIT);
      }
    }
    dirty_ = 0;
  }
  return true;
}

void DtssWipe::_Restore() {
  if (!manager_ || !manager_->IsMultitexture() || !mask_) return;
  dirty_ = 1;
  bool ok = texture_a_ && SUCCEEDED(texture_a_->Restore());
  ok = ok && texture_b_ && SUCCEEDED(texture_b_->Restore());
  if (!ok) _ReleaseTextures();
}

void DtssWipe::Release() {
  if (!manager_) return;
  while (!users_.IsEmpty()) {
    DtssSprite* sprite = users_.Front().Get();
    RemoveSprite(sprite);
    sprite->_LoseWipe();
  }
  ReleaseSurface(texture_a_);
  ReleaseSurface(texture_b_);
  ReleaseSurface(mask_a_);
  ReleaseSurface(mask_b_);
  ReleaseSurface(mask_);
  DtssManager* manager = manager_;
  manager_ = nullptr;
  // Last: leaving the list may drop the last owning handle of this wipe.
  manager->_RemoveWipe(this);
}
