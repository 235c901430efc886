// DtssManager, rendering half: images, level lists, the batcher and its render-state cache,
// render, present and frame capture.
#include <cstring>

#include "base/dlogstream.h"
#include "display/tss/dtss_image.h"
#include "display/tss/dtss_manager.h"
#include "display/tss/dtss_sprite.h"
#include "display/tss/dtss_wipe.h"

namespace {

struct BlendRow {
  DWORD enable, src, dst;
};
// src = the incoming fragment, dst = the back buffer. Mode 7 blends as mode 2.
const BlendRow kBlendModes[8] = {
    {FALSE, D3DBLEND_ONE, D3DBLEND_ZERO},      {TRUE, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
    {TRUE, D3DBLEND_SRCALPHA, D3DBLEND_ONE},   {TRUE, D3DBLEND_ONE, D3DBLEND_INVSRCALPHA},
    {TRUE, D3DBLEND_DESTCOLOR, D3DBLEND_ZERO}, {TRUE, D3DBLEND_INVDESTCOLOR, D3DBLEND_ZERO},
    {TRUE, D3DBLEND_DESTCOLOR, D3DBLEND_ONE},  {TRUE, D3DBLEND_SRCALPHA, D3DBLEND_ONE},
};

struct StateValue {
  D3DRENDERSTATETYPE state;
  DWORD value;
};
const StateValue kFixedStates[] = {
    {D3DRENDERSTATE_ANTIALIAS, D3DANTIALIAS_NONE},
    {D3DRENDERSTATE_TEXTUREPERSPECTIVE, FALSE},
    {D3DRENDERSTATE_ZENABLE, FALSE},
    {D3DRENDERSTATE_FILLMODE, D3DFILL_SOLID},
    {D3DRENDERSTATE_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRENDERSTATE_LINEPATTERN, 0},
    {D3DRENDERSTATE_ZWRITEENABLE, FALSE},
    {D3DRENDERSTATE_ALPHATESTENABLE, FALSE},
    {D3DRENDERSTATE_LASTPIXEL, TRUE},
    {D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE},
    {D3DRENDERSTATE_DESTBLEND, D3DBLEND_ZERO},
    {D3DRENDERSTATE_CULLMODE, D3DCULL_NONE},
    {D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS},
    {D3DRENDERSTATE_ALPHAREF, 0},
    {D3DRENDERSTATE_ALPHAFUNC, D3DCMP_ALWAYS},
    {D3DRENDERSTATE_DITHERENABLE, FALSE},
    {D3DRENDERSTATE_ALPHABLENDENABLE, FALSE},
    {D3DRENDERSTATE_FOGENABLE, FALSE},
    {D3DRENDERSTATE_SPECULARENABLE, FALSE},
    {D3DRENDERSTATE_STIPPLEDALPHA, FALSE},
    {D3DRENDERSTATE_FOGCOLOR, 0},
    {D3DRENDERSTATE_FOGTABLEMODE, D3DFOG_NONE},
    {D3DRENDERSTATE_EDGEANTIALIAS, FALSE},
    {D3DRENDERSTATE_COLORKEYENABLE, FALSE},
    {D3DRENDERSTATE_ZBIAS, 0},
    {D3DRENDERSTATE_RANGEFOGENABLE, FALSE},
    {D3DRENDERSTATE_STENCILENABLE, FALSE},
    {D3DRENDERSTATE_WRAP0, 0},
    {D3DRENDERSTATE_WRAP1, 0},
    {D3DRENDERSTATE_CLIPPING, TRUE},
    {D3DRENDERSTATE_LIGHTING, FALSE},
    {D3DRENDERSTATE_EXTENTS, FALSE},
    {D3DRENDERSTATE_AMBIENT, 0},
    {D3DRENDERSTATE_FOGVERTEXMODE, D3DFOG_NONE},
    {D3DRENDERSTATE_COLORVERTEX, TRUE},
    {D3DRENDERSTATE_LOCALVIEWER, TRUE},
    {D3DRENDERSTATE_NORMALIZENORMALS, FALSE},
    {D3DRENDERSTATE_COLORKEYBLENDENABLE, FALSE},
    {D3DRENDERSTATE_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
    {D3DRENDERSTATE_SPECULARMATERIALSOURCE, D3DMCS_COLOR1},
    {D3DRENDERSTATE_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1},
    {D3DRENDERSTATE_EMISSIVEMATERIALSOURCE, D3DMCS_COLOR1},
    {D3DRENDERSTATE_VERTEXBLEND, D3DVBLEND_DISABLE},
    {D3DRENDERSTATE_CLIPPLANEENABLE, 0},
};

// Waits until the surface may blit (or the tries run out).
void WaitBlt(IDirectDrawSurface7* s) {
  if (!s) return;
  for (int i = 0; i < kDtssMaxWaits && s->GetBltStatus(DDGBS_ISBLTDONE) == DDERR_WASSTILLDRAWING; ++i) {
  }
  for (int i = 0; i < kDtssMaxWaits && s->GetBltStatus(DDGBS_CANBLT) == DDERR_WASSTILLDRAWING; ++i) {
  }
}

void WaitFlip(IDirectDrawSurface7* s) {
  if (!s) return;
  for (int i = 0; i < kDtssMaxWaits && s->GetFlipStatus(DDGFS_ISFLIPDONE) == DDERR_WASSTILLDRAWING; ++i) {
  }
  for (int i = 0; i < kDtssMaxWaits && s->GetFlipStatus(DDGFS_CANFLIP) == DDERR_WASSTILLDRAWING; ++i) {
  }
}

}  // namespace

HRESULT DtssWaitBlt(IDirectDrawSurface7* dst, RECT* dst_rect, IDirectDrawSurface7* src, RECT* src_rect,
                    DWORD flags, DDBLTFX* fx) {
  WaitBlt(dst);
  WaitBlt(src);
  return dst->Blt(dst_rect, src, src_rect, flags, fx);
}

// ---- Objects.

DRef<DtssImage> DtssManager::CreateImage(const DImage& source, int32_t width, int32_t height) {
  DRef<DtssImage> image;
  if (!hwnd_) return image;
  image.Alloc(1);
  if (!image->Init(this, width, height, source)) return DRef<DtssImage>();
  images_.PushBack(image);
  return image;
}

DRef<DtssImage> DtssManager::CreateDynamicImage(int32_t width, int32_t height) {
  DRef<DtssImage> image;
  if (!hwnd_) return image;
  image.Alloc(1);
  if (!image->InitDynamic(this, width, height)) return DRef<DtssImage>();
  images_.PushBack(image);
  return image;
}

DRef<DtssSprite> DtssManager::CreateSprite(DtssImage* image, int32_t level) {
  DRef<DtssImage> found = _FindImage(image);
  if (!found) return DRef<DtssSprite>();
  DRef<DtssSprite> sprite;
  sprite.Alloc(1);
  if (!sprite->Init(this, found, level)) return DRef<DtssSprite>();
  return sprite;
}

DRef<DtssImage> DtssManager::_FindImage(DtssImage* image) {
  if (!image) return DRef<DtssImage>();
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next())
    if (it.Value().Get() == image) return it.Value();
  return DRef<DtssImage>();
}

void DtssManager::_RemoveImage(DtssImage* image) {
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next()) {
    if (it.Value().Get() == image) {
      images_.Erase(it);
      return;
    }
  }
}

DRef<DtssWipe> DtssManager::LoadWipe(const DImage& source) {
  DRef<DtssWipe> wipe;
  if (!hwnd_) return wipe;
  wipe.Alloc(1);
  if (!wipe->Load(this, source)) return DRef<DtssWipe>();
  wipes_.PushBack(wipe);
  return wipe;
}

DRef<DtssWipe> DtssManager::_FindWipe(DtssWipe* wipe) {
  if (!wipe) return DRef<DtssWipe>();
  for (auto it = wipes_.Begin(); !(it == wipes_.End()); it = it.Next())
    if (it.Value().Get() == wipe) return it.Value();
  return DRef<DtssWipe>();
}

void DtssManager::_RemoveWipe(DtssWipe* wipe) {
  for (auto it = wipes_.Begin(); !(it == wipes_.End()); it = it.Next()) {
    if (it.Value().Get() == wipe) {
      wipes_.Erase(it);
      return;
    }
  }
}

// ---- Levels.

bool DtssManager::SetSpriteLevel(DtssSprite* sprite, int32_t level) {
  _RemoveFromLevel(sprite);
  if (level < 0 || level > kDtssMaxLevel) return false;
  if (!(sprite->flags_ & DtssSprite::kShown)) return true;
  uint32_t lv = static_cast<uint32_t>(level);
  if (lv >= level_count_) {
    uint32_t count = (lv + 128) & ~uint32_t{127};
    DRef<Level> table;
    table.Alloc(count);
    for (uint32_t i = 0; i < count; ++i) {
      if (i < level_count_) {
        table[i] = levels_[i];
        if (i + levels_[i].skip >= level_count_) table[i].skip = count - i;
      } else {
        table[i].skip = count - i;
      }
    }
    levels_ = table;
    level_count_ = count;
  }
  Level& entry = levels_[lv];
  if (!entry.first) {
    for (int64_t j = int64_t{lv} - 1; j >= 0; --j) {
      if (j + levels_[j].skip < lv) break;
      levels_[j].skip = lv - static_cast<uint32_t>(j);
    }
  }
  sprite->prev_ = entry.last;
  sprite->next_ = nullptr;
  if (entry.last)
    entry.last->next_ = sprite;
  else
    entry.first = sprite;
  entry.last = sprite;
  sprite->list_level_ = level;
  return true;
}

void DtssManager::_RemoveFromLevel(DtssSprite* sprite) {
  if (sprite->list_level_ < 0) return;
  uint32_t lv = static_cast<uint32_t>(sprite->list_level_);
  if (lv < level_count_) {
    Level& entry = levels_[lv];
    if (sprite->prev_)
      sprite->prev_->next_ = sprite->next_;
    else
      entry.first = sprite->next_;
    if (sprite->next_)
      sprite->next_->prev_ = sprite->prev_;
    else
      entry.last = sprite->prev_;
    if (!entry.first && lv > 0) {
      for (int64_t j = int64_t{lv} - 1; j >= 0; --j) {
        if (j + levels_[j].skip != lv) break;
        levels_[j].skip += entry.skip;
      }
    }
  }
  sprite->list_level_ = -1;
  sprite->prev_ = sprite->next_ = nullptr;
}

// ---- Render states and the batcher.

void DtssManager::_InitRenderStates() {
  for (const StateValue& s : kFixedStates) device_->SetRenderState(s.state, s.value);
  D3DMATRIX identity{};
  for (int i = 0; i < 4; ++i) identity.m[i][i] = 1.0f;
  device_->SetTransform(D3DTRANSFORMSTATE_WORLD, &identity);
  device_->SetTransform(D3DTRANSFORMSTATE_VIEW, &identity);
  device_->SetTransform(D3DTRANSFORMSTATE_PROJECTION, &identity);
  DWORD filter_mag = (flags_ & kDtssPoint) ? D3DTFG_POINT : D3DTFG_LINEAR;
  DWORD filter_min = (flags_ & kDtssPoint) ? D3DTFN_POINT : D3DTFN_LINEAR;
  for (DWORD s = 0; s < 2; ++s) {
    device_->SetTexture(s, nullptr);
    device_->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(s, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device_->SetTextureStageState(s, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(s, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(s, D3DTSS_COLORARG2, s == 0 ? D3DTA_DIFFUSE : D3DTA_CURRENT);
    device_->SetTextureStageState(s, D3DTSS_ALPHAARG2, s == 0 ? D3DTA_DIFFUSE : D3DTA_CURRENT);
    for (DWORD m = D3DTSS_BUMPENVMAT00; m <= D3DTSS_BUMPENVMAT11; ++m) device_->SetTextureStageState(s, m, 0);
    device_->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, s);
    device_->SetTextureStageState(s, D3DTSS_ADDRESS, D3DTADDRESS_CLAMP);
    device_->SetTextureStageState(s, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    device_->SetTextureStageState(s, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP);
    device_->SetTextureStageState(s, D3DTSS_BORDERCOLOR, 0);
    device_->SetTextureStageState(s, D3DTSS_MAGFILTER, filter_mag);
    device_->SetTextureStageState(s, D3DTSS_MINFILTER, filter_min);
    device_->SetTextureStageState(s, D3DTSS_MIPFILTER, D3DTFP_NONE);
    device_->SetTextureStageState(s, D3DTSS_MIPMAPLODBIAS, 0);
    device_->SetTextureStageState(s, D3DTSS_MAXMIPLEVEL, 0);
    device_->SetTextureStageState(s, D3DTSS_MAXANISOTROPY, 1);
    device_->SetTextureStageState(s, D3DTSS_BUMPENVLSCALE, 0);
    device_->SetTextureStageState(s, D3DTSS_BUMPENVLOFFSET, 0);
    device_->SetTextureStageState(s, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
  }
  uint32_t blend = blend_, ref = alpha_ref_;
  blend_ = 0;
  alpha_ref_ = 0;
  _SetBlendMode(blend);
  _SetAlphaTest(ref);
  vertex_count_ = index_count_ = 0;
  texture0_ = texture1_ = nullptr;
}

void DtssManager::_SetBlendMode(uint32_t mode) {
  if (mode == blend_ || mode > 7) return;
  blend_ = mode;
  device_->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, kBlendModes[mode].enable);
  device_->SetRenderState(D3DRENDERSTATE_SRCBLEND, kBlendModes[mode].src);
  device_->SetRenderState(D3DRENDERSTATE_DESTBLEND, kBlendModes[mode].dst);
}

void DtssManager::_SetAlphaTest(uint32_t reference) {
  if (reference == alpha_ref_) return;
  if (alpha_ref_ == 0) {
    device_->SetRenderState(D3DRENDERSTATE_ALPHATESTENABLE, TRUE);
    device_->SetRenderState(D3DRENDERSTATE_ALPHAREF, reference);
    device_->SetRenderState(D3DRENDERSTATE_ALPHAFUNC, D3DCMP_GREATER);
  } else if (reference != 0) {
    device_->SetRenderState(D3DRENDERSTATE_ALPHAREF, reference);
  } else {
    device_->SetRenderState(D3DRENDERSTATE_ALPHATESTENABLE, FALSE);
    device_->SetRenderState(D3DRENDERSTATE_ALPHAREF, 0);
    device_->SetRenderState(D3DRENDERSTATE_ALPHAFUNC, D3DCMP_ALWAYS);
  }
  alpha_ref_ = reference;
}

void DtssManager::_Flush() {
  if (vertex_count_ + index_count_ > 0 && device_)
    device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, kDtssFvf, vertices_.data(), vertex_count_,
                                  indices_.data(), index_count_, 0);
  vertex_count_ = index_count_ = 0;
}

bool DtssManager::_AddPrimitives(const DtssVertex* vertices, uint32_t nv, const uint16_t* indices,
                                 uint32_t ni, IDirectDrawSurface7* texture0, IDirectDrawSurface7* texture1,
                                 uint32_t blend, uint32_t reference) {
  if (!device_) return false;
  if (nv > kDtssMaxVertices || ni > kDtssMaxIndices || blend > 7 || reference > 255) {
    DDebugLog() << "[DtssManager::_AddPrimitives] refused " << nv << " vertices, " << ni << " indices.\n";
    return false;
  }
  if (vertex_count_ + nv > kDtssMaxVertices || index_count_ + ni > kDtssMaxIndices || texture0 != texture0_ ||
      texture1 != texture1_ || blend != blend_ || reference != alpha_ref_) {
    _Flush();
    _SetBlendMode(blend);
    _SetAlphaTest(reference);
    if (texture0 != texture0_) {
      device_->SetTexture(0, texture0);
      texture0_ = texture0;
    }
    if (texture1 != texture1_) {
      device_->SetTexture(1, texture1);
      texture1_ = texture1;
    }
  }
  for (uint32_t i = 0; i < ni; ++i)
    indices_[index_count_ + i] = static_cast<uint16_t>(indices[i] + vertex_count_);
  index_count_ += ni;
  std::memcpy(&vertices_[vertex_count_], vertices, sizeof(DtssVertex) * nv);
  vertex_count_ += nv;
  return true;
}

// ---- Frames.

bool DtssManager::_UploadImages() {
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next()) {
    DRef<DtssImage> image = it.Value();
    if (!image->IsDynamic() && image->IsUsed() && image->HasDirtyRect() && !image->_Upload()) return false;
  }
  return true;
}

bool DtssManager::_UploadWipes() {
  for (auto it = wipes_.Begin(); !(it == wipes_.End()); it = it.Next()) {
    DRef<DtssWipe> wipe = it.Value();
    if (wipe->IsUsed() && wipe->IsDirty() && !wipe->_UpdateTextures()) return false;
  }
  return true;
}

bool DtssManager::_UpdateWipes() {
  if (!(wipe_dirty_ & 1)) return true;
  bool ok = _UploadWipes();
  if (!ok) {
    _FreeTextures(false);
    ok = _UploadWipes();
  }
  if (!ok) {
    _FreeTextures(true);
    ok = _UploadWipes();
  }
  if (!ok) return false;
  wipe_dirty_ &= ~1u;
  return true;
}

void DtssManager::_FreeTextures(bool all) {
  // The device holds the textures last set; unbind them so that freed textures free their memory.
  if (device_) {
    if (texture0_) device_->SetTexture(0, nullptr);
    if (texture1_) device_->SetTexture(1, nullptr);
  }
  texture0_ = texture1_ = nullptr;
  for (auto it = images_.Begin(); !(it == images_.End()); it = it.Next()) {
    DRef<DtssImage> image = it.Value();
    if (all || !image->IsUsed()) image->_ReleaseTexture();
  }
  for (auto it = wipes_.Begin(); !(it == wipes_.End()); it = it.Next()) {
    DRef<DtssWipe> wipe = it.Value();
    if (all ? multitexture_ != 0 : !wipe->IsUsed()) wipe->_ReleaseTextures();
  }
  wipe_dirty_ |= 1;
  // Every image (and wipe) that lost its texture must be uploaded again.
  image_dirty_ |= 1;
}

bool DtssManager::_UpdateImages() {
  if (!(image_dirty_ & 1)) return true;
  bool ok = _UploadImages();
  if (!ok) {
    _FreeTextures(false);
    ok = _UploadImages();
  }
  if (!ok) {
    _FreeTextures(true);
    ok = _UploadImages();
  }
  if (!ok) return false;
  image_dirty_ &= ~1u;
  return true;
}

bool DtssManager::Render() {
  if (!hwnd_ || !ddraw_) return true;
  if (!_CheckLost()) return true;
  if (!_UpdateImages() || !_UpdateWipes()) return false;
  if (!device_ || FAILED(device_->BeginScene())) return true;
  for (uint32_t i = 0; i < level_count_;) {
    for (DtssSprite* s = levels_[i].first; s;) {
      DtssSprite* next = s->next_;
      s->Draw();
      s = next;
    }
    uint32_t skip = levels_[i].skip;
    i += skip ? skip : 1;
  }
  _Flush();
  device_->EndScene();
  return true;
}

void DtssManager::Present() {
  if (!primary_ || !back_) return;
  if (fullscreen_ && gdi_count_ <= 0 && !(flags_ & kDtssBlitPresent)) {
    WaitFlip(primary_);
    WaitFlip(back_);
    primary_->Flip(nullptr, DDFLIP_WAIT);
  } else if (fullscreen_) {
    DtssWaitBlt(primary_, nullptr, back_, nullptr, DDBLT_WAIT);
  } else {
    RECT dst{present_.x, present_.y, present_.x + present_.width, present_.y + present_.height};
    DtssWaitBlt(primary_, &dst, back_, nullptr, DDBLT_WAIT);
  }
}

void DtssManager::GetRenderImage(DtssImage* image) {
  if (!back_ || !image || !image->IsDynamic() || image->manager_ != this) return;
  if (!image->_CreateTexture()) return;
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof d;
  if (FAILED(back_->GetSurfaceDesc(&d))) return;
  LONG w = std::min<LONG>(static_cast<LONG>(d.dwWidth), image->size_.x);
  LONG h = std::min<LONG>(static_cast<LONG>(d.dwHeight), image->size_.y);
  if (w <= 0 || h <= 0) return;
  RECT r{0, 0, w, h};
  DtssWaitBlt(image->texture_, &r, back_, &r, DDBLT_WAIT);
}

void DtssManager::SetLinearMode(bool linear) {
  if (linear)
    flags_ &= ~kDtssPoint;
  else
    flags_ |= kDtssPoint;
  if (!device_) return;
  DWORD mag = (flags_ & kDtssPoint) ? D3DTFG_POINT : D3DTFG_LINEAR;
  DWORD min = (flags_ & kDtssPoint) ? D3DTFN_POINT : D3DTFN_LINEAR;
  for (DWORD s = 0; s < 2; ++s) {
    device_->SetTextureStageState(s, D3DTSS_MAGFILTER, mag);
    device_->SetTextureStageState(s, D3DTSS_MINFILTER, min);
  }
}
