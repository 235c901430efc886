// Draw-unit drawing for scripts and plug-ins: blits (plain, mirrored, stretched, rotated, through a
// wipe), level layers, fills, pixels and lines; and the sprite list's levels, registration and
// frame steps.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "api/draw_api.h"
#include "api/ov_api.h"
#include "imaging/blit/dimg_rotate.h"
#include "imaging/blit/dimg_smooth.h"
#include "imaging/dimg_blit.h"
#include "shell/cframetimer.h"
#include "vm/dispatch.h"
#include "vm/runtime_error.h"

namespace {

// ---- Workers (images present).

// The wipe threshold of a level: clamped to 0..1 in floating point first (NaN counts as 0), then
// the nearest of 0..32767.
uint32_t WipeThreshold(float level) {
  double l = std::isnan(level) ? 0.0 : std::clamp(static_cast<double>(level), 0.0, 1.0);
  return static_cast<uint32_t>(std::nearbyint(l * 32767.0));
}
uint32_t WipeDirection(int32_t direction) {
  return direction == 1 ? 1u : 0u;
}

void BltW(DrawImage& d, int32_t dx, int32_t dy, int32_t w, int32_t h, DrawImage& s, int32_t sx, int32_t sy,
          int32_t flags) {
  d.Blt(dx, dy, w, h, s, sx, sy, 3u & ~static_cast<uint32_t>(flags));
  d.SetUpdate();
}
void MirrorW(DrawImage& d, int32_t dx, int32_t dy, int32_t w, int32_t h, DrawImage& s, int32_t sx, int32_t sy,
             int32_t flags) {
  d.BltMirror(dx, dy, w, h, s, sx, sy, static_cast<uint32_t>(flags));
  d.SetUpdate();
}

// Whether the two images draw into the same pixel storage (the same image, duplicates, the screen).
bool SharePixels(const DrawImage& a, const DrawImage& b) {
  return a.GetRecord() == b.GetRecord() || a.GetImage() == b.GetImage() ||
         (a.GetImage() && b.GetImage() && a.GetImage()->GetBits() &&
          a.GetImage()->GetBits() == b.GetImage()->GetBits());
}

void StretchW(DrawImage& d, int32_t dx, int32_t dy, int32_t dw, int32_t dh, DrawImage& s, int32_t sx,
              int32_t sy, int32_t sw, int32_t sh, int32_t flags) {
  d.SetUpdate();
  DImage* dst = d.GetImage();
  const DImage* src = s.GetImage();
  if (!dst || !src || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 || !dst->GetWidth() || !src->GetWidth())
    return;
  std::unique_ptr<DImage> copy;
  if (SharePixels(d, s)) {
    copy = std::make_unique<DImage>(*src);  // read from a copy: the writes would change the source
    src = copy.get();
  }
  uint8_t* dtop = dst->GetTopLine();
  const uint8_t* stop = src->GetTopLine();
  if (flags & 1) {
    if (src->GetFormat() == DimgFormat::RGB565)
      DimgStretchSmoothRGB565(dtop, *dst, dx, dy, uint32_t(dw), uint32_t(dh), stop, *src, sx, sy,
                              uint32_t(sw), uint32_t(sh));
    else
      DimgStretchSmoothARGB1555(dtop, *dst, dx, dy, uint32_t(dw), uint32_t(dh), stop, *src, sx, sy,
                                uint32_t(sw), uint32_t(sh));
  } else {
    DimgStretchBlt16(dtop, *dst, dx, dy, uint32_t(dw), uint32_t(dh), stop, *src, sx, sy, uint32_t(sw),
                     uint32_t(sh));
  }
  src->Unlock();
  dst->Unlock();
}

void RotateW(DrawImage& d, int32_t x, int32_t y, DrawImage& s, int32_t cx, int32_t cy, float angle,
             float scale) {
  d.SetUpdate();
  DImage* dst = d.GetImage();
  const DImage* src = s.GetImage();
  if (!dst || !src || !dst->GetWidth() || !src->GetWidth()) return;
  std::unique_ptr<DImage> copy;
  if (SharePixels(d, s)) {
    copy = std::make_unique<DImage>(*src);
    src = copy.get();
  }
  DimgRotate(*dst, x, y, *src, cx, cy, angle * 0.017453292f, scale);
}

void WipeW(DrawImage& d, int32_t dx, int32_t dy, int32_t w, int32_t h, DrawImage& s, int32_t sx, int32_t sy,
           const WipeMap& map, float level, int32_t direction) {
  d.BltWipe(s, dx, dy, w, h, sx, sy, map, WipeThreshold(level), WipeDirection(direction));
  d.SetUpdate();
}
void AlphaWipeW(DrawImage& d, int32_t dx, int32_t dy, int32_t w, int32_t h, DrawImage& s, int32_t sx,
                int32_t sy, const WipeMap& map, float level, int32_t direction) {
  d.BltAlphaWipe(dx, dy, w, h, s, sx, sy, map, WipeThreshold(level), WipeDirection(direction));
  d.SetUpdate();
}

// Switches the level layer on; a layer that was off starts all 0.
void LayerOnCleared(DrawImage& d) {
  const bool was_on = d.IsAlpha();
  d.EnableAlpha(true);
  if (was_on) return;
  if (uint8_t* plane = d.ValidAlpha()) std::memset(plane, 0, size_t(d.GetWidth()) * size_t(d.GetHeight()));
}

void FillAlphaWipeW(DrawImage& d, int32_t x, int32_t y, int32_t w, int32_t h, int32_t a, int32_t b,
                    const WipeMap& map, float level, int32_t direction) {
  LayerOnCleared(d);
  d.FillAlphaWipe(x, y, w, h, LayerValue(a), LayerValue(b), map, WipeThreshold(level),
                  WipeDirection(direction));
  d.SetUpdate();
}
void ConvAlphaW(DrawImage& d, int32_t dx, int32_t dy, int32_t w, int32_t h, DrawImage& s, int32_t sx,
                int32_t sy) {
  LayerOnCleared(d);
  d.ConvAlpha(dx, dy, w, h, s, sx, sy);
  d.SetUpdate();
}
void ConvTransAlphaW(DrawImage& d, int32_t dx, int32_t dy, int32_t w, int32_t h, DrawImage& s, int32_t sx,
                     int32_t sy) {
  LayerOnCleared(d);
  d.ConvTransAlpha(dx, dy, w, h, s, sx, sy);
  d.SetUpdate();
}
void FillAlphaW(DrawImage& d, int32_t value) {
  d.EnableAlpha(true);
  if (uint8_t* plane = d.ValidAlpha())
    std::memset(plane, LayerValue(value), size_t(d.GetWidth()) * size_t(d.GetHeight()));
  d.SetUpdate();
}
void FillAlphaRectW(DrawImage& d, int32_t x, int32_t y, int32_t w, int32_t h, int32_t value) {
  LayerOnCleared(d);
  d.SetUpdate();
  uint8_t* plane = d.ValidAlpha();
  if (!plane || w <= 0 || h <= 0) return;
  const int64_t W = d.GetWidth(), H = d.GetHeight();
  const int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
  const int64_t x1 = std::min<int64_t>(int64_t(x) + w, W), y1 = std::min<int64_t>(int64_t(y) + h, H);
  for (int64_t r = y0; r < y1; ++r)
    if (x1 > x0) std::memset(plane + r * W + x0, LayerValue(value), size_t(x1 - x0));
}
bool ShareAlphaW(DrawImage& d, DrawImage& other) {
  if (!d.ShareAlpha(other)) return false;
  d.EnableAlpha(true);
  d.SetUpdate();
  return true;
}
void SeparateAlphaW(DrawImage& d) {
  if (!d.IsAlpha()) return;
  d.SeparateAlpha();
  d.SetUpdate();
}
void FillW(DrawImage& d, int32_t r, int32_t g, int32_t b) {
  d.Fill(Channel(r), Channel(g), Channel(b));
  d.SetUpdate();
}
void FillRectW(DrawImage& d, int32_t x, int32_t y, int32_t w, int32_t h, int32_t r, int32_t g, int32_t b) {
  d.FillRect(x, y, w, h, Channel(r), Channel(g), Channel(b));
  d.SetUpdate();
}
void PutColorW(DrawImage& d, int32_t x, int32_t y, int32_t r, int32_t g, int32_t b) {
  d.PutColor(x, y, Channel(r), Channel(g), Channel(b));
  d.SetUpdate();
}
OvColor GetColorW(const DrawImage& d, int32_t x, int32_t y) {
  OvColor c{};
  SplitColor16(d, d.GetPixel(x, y), &c.r, &c.g, &c.b);
  return c;
}
void LineW(DrawImage& d, int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t r, int32_t g, int32_t b) {
  d.DrawLine(x1, y1, x2, y2, Channel(r), Channel(g), Channel(b));
  d.SetUpdate();
}

// ---- Sprite list.

SpriteList& Sprites() {
  return DrawScreen().GetSpriteList();
}
void RenderScreenW() {
  SpriteList& list = Sprites();
  list.Update();
  list.Render();
  DrawScreen().Present();
  list.ClearDirty();
}
void RenderWaitW() {
  SpriteList& list = Sprites();
  list.Update();
  if (FrameTimer().Wait()) return;  // late: the marked cells wait for the next frame drawn
  list.Render();
  DrawScreen().Present();
  list.ClearDirty();
}
bool RegW(DrawImage& i, int32_t level) {
  i.SetUpdate();
  return i.GetOwner() && i.GetOwner()->GetSpriteList().SetImageLevel(i, level);
}
void UnregW(DrawImage& i) {
  if (i.sprite_list_) i.sprite_list_->RemoveImage(i);
}
void SpriteImageDrawW(int32_t flag) {
  DrawScreen().SetSpriteImageDraw(flag != 0);
  Sprites().SetAllDirty();
}
void PopSpriteStatusW() {
  DrawScreen().PopSpriteImageStatus();
  Sprites().SetAllDirty();
}

// ---- Built-ins.

int32_t IntArg(ScriptContext* ctx, uint32_t k) {
  return ctx->GetArg(k)->ToInt();
}
float FloatArg(ScriptContext* ctx, uint32_t k) {
  return ctx->GetArg(k)->ToFloat();
}

// The current image, and the source image of argument k (type error 500 when it is none) and the
// wipe of argument w (type error 511) when asked; false when the built-in is to stop.
struct Operands {
  DRef<ImageHandle> dst_handle, src_handle;
  DRef<WipeMap> wipe;
  DrawImage* dst = nullptr;
  DrawImage* src = nullptr;
};
bool Take(ScriptContext* ctx, Operands* o, uint32_t src_k, uint32_t wipe_k) {
  if (RefuseInTssMode(ctx)) return false;
  if (src_k) {
    o->src_handle = ObjectOfValueAs<ImageHandle>(*ctx->GetArg(src_k), kScriptImage);
    o->src = DrawOf(o->src_handle);
    if (!o->src) return ctx->RaiseError(kScriptKindErrorBase + kScriptImage), false;
  }
  if (wipe_k) {
    o->wipe = ObjectOfValueAs<WipeMap>(*ctx->GetArg(wipe_k), kScriptWipe);
    if (!o->wipe) return ctx->RaiseError(kScriptKindErrorBase + kScriptWipe), false;
  }
  o->dst_handle = CurrentImageHandle();
  o->dst = DrawOf(o->dst_handle);
  return o->dst != nullptr;
}

bool BiBltImage(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 5, 0))
    BltW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), *o.src, IntArg(ctx, 6),
         IntArg(ctx, 7), IntArg(ctx, 8));
  return false;
}
bool BiBltImageMirror(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 5, 0))
    MirrorW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), *o.src, IntArg(ctx, 6),
            IntArg(ctx, 7), IntArg(ctx, 8));
  return false;
}
bool BiBltImageStretch(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 5, 0))
    StretchW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), *o.src, IntArg(ctx, 6),
             IntArg(ctx, 7), IntArg(ctx, 8), IntArg(ctx, 9), IntArg(ctx, 10));
  return false;
}
bool BiBltImageRotate(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 3, 0))
    RotateW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), *o.src, IntArg(ctx, 4), IntArg(ctx, 5), FloatArg(ctx, 6),
            FloatArg(ctx, 7));
  return false;
}
bool BiBltImageWipe(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 5, 8))
    WipeW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), *o.src, IntArg(ctx, 6),
          IntArg(ctx, 7), *o.wipe, FloatArg(ctx, 9), IntArg(ctx, 10));
  return false;
}
bool BiBltAlphaImageWipe(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 5, 8))
    AlphaWipeW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), *o.src, IntArg(ctx, 6),
               IntArg(ctx, 7), *o.wipe, FloatArg(ctx, 9), IntArg(ctx, 10));
  return false;
}
bool BiFillAlphaImageWipe(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 7))
    FillAlphaWipeW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), IntArg(ctx, 5),
                   IntArg(ctx, 6), *o.wipe, FloatArg(ctx, 8), IntArg(ctx, 9));
  return false;
}
bool BiConvAlphaImage(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 5, 0))
    ConvAlphaW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), *o.src, IntArg(ctx, 6),
               IntArg(ctx, 7));
  return false;
}
bool BiConvTransAlphaImage(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 5, 0))
    ConvTransAlphaW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), *o.src,
                    IntArg(ctx, 6), IntArg(ctx, 7));
  return false;
}
bool BiFillAlphaImage(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 0)) FillAlphaW(*o.dst, IntArg(ctx, 1));
  return false;
}
bool BiFillAlphaImageRect(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 0))
    FillAlphaRectW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), IntArg(ctx, 5));
  return false;
}
bool BiShareAlphaImage(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 1, 0) && !ShareAlphaW(*o.dst, *o.src))
    ReportRuntimeError("imgShareAlphaImage\nアルファイメージの共有ができません。", ctx);
  return false;
}
bool BiSeparateAlphaImage(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 0)) SeparateAlphaW(*o.dst);
  return false;
}
bool BiFillImage(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 0)) FillW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3));
  return false;
}
bool BiFillImageRect(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 0))
    FillRectW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), IntArg(ctx, 5),
              IntArg(ctx, 6), IntArg(ctx, 7));
  return false;
}
bool BiPutImageColor(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 0))
    PutColorW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), IntArg(ctx, 5));
  return false;
}
bool BiGetImageColor(ScriptContext* ctx) {
  Operands o;
  if (!Take(ctx, &o, 0, 0)) return false;
  const OvColor c = GetColorW(*o.dst, IntArg(ctx, 2), IntArg(ctx, 3));
  ctx->SetArgElementInt(1, 0, c.r);
  ctx->SetArgElementInt(1, 1, c.g);
  ctx->SetArgElementInt(1, 2, c.b);
  return false;
}
bool BiDrawImageLine(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 0))
    LineW(*o.dst, IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4), IntArg(ctx, 5),
          IntArg(ctx, 6), IntArg(ctx, 7));
  return false;
}

// Sprite-list built-ins.
bool BiSetSpriteLevel(ScriptContext* ctx) {
  if (!RefuseInTssMode(ctx)) Sprites().SetLevelCount(IntArg(ctx, 1));
  return false;
}
bool BiRegSpriteImage(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 0)) RegW(*o.dst, IntArg(ctx, 1));
  return false;
}
bool BiUnregSpriteImage(ScriptContext* ctx) {
  Operands o;
  if (Take(ctx, &o, 0, 0)) UnregW(*o.dst);
  return false;
}
bool BiSetSpriteUpdate(ScriptContext* ctx) {
  if (!RefuseInTssMode(ctx))
    Sprites().SetUpdate(IntArg(ctx, 1), IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4));
  return false;
}
template <void (*Step)()>
bool BiStep(ScriptContext* ctx) {
  if (!RefuseInTssMode(ctx)) Step();
  return false;
}
void SetAllDirtyW() {
  Sprites().SetAllDirty();
}
void ClearDirtyW() {
  Sprites().ClearDirty();
}
void UpdateW() {
  Sprites().Update();
}
void RenderW() {
  Sprites().Render();
}
void PresentW() {
  DrawScreen().Present();
}
void PushSpriteStatusW() {
  DrawScreen().PushSpriteImageStatus();
}
bool BiFlipSprite(ScriptContext* ctx) {
  if (!RefuseInTssMode(ctx)) PresentW();  // the flag is not used
  return false;
}
bool BiSetFlipMapping(ScriptContext* ctx) {
  if (!RefuseInTssMode(ctx))
    DrawScreen().SetFlipMapping(IntArg(ctx, 1) != 0, IntArg(ctx, 2), IntArg(ctx, 3), IntArg(ctx, 4),
                                IntArg(ctx, 5), IntArg(ctx, 6), IntArg(ctx, 7), IntArg(ctx, 8),
                                IntArg(ctx, 9));
  return false;
}
bool BiSetSpriteImageDraw(ScriptContext* ctx) {
  if (!RefuseInTssMode(ctx)) SpriteImageDrawW(IntArg(ctx, 1));
  return false;
}

// ---- Export helpers.

struct ExportOperands {
  DRef<ImageHandle> dst_handle, src_handle;
  DRef<WipeMap> wipe;
  DrawImage* dst = nullptr;
  DrawImage* src = nullptr;
};
bool TakeExport(ExportOperands* o, const char* name, ApiHandle* dst, ApiHandle* src, ApiHandle* wipe) {
  if (InTssMode()) return false;
  o->dst_handle = ExportImage(dst, name);
  o->dst = DrawOf(o->dst_handle);
  if (!o->dst) return false;
  if (src) {
    o->src_handle = ExportImage(src, name);
    o->src = DrawOf(o->src_handle);
    if (!o->src) return false;
  }
  if (wipe) {
    o->wipe = ApiHandleAs<WipeMap>(wipe, kScriptWipe, name);
    if (!o->wipe) return false;
  }
  return true;
}

}  // namespace

#define OV_GUARD(body) \
  try {                \
    body;              \
  } catch (...) {      \
  }

extern "C" {

void ovBltImage(ApiHandle* dst, int32_t dx, int32_t dy, int32_t w, int32_t h, ApiHandle* src, int32_t sx,
                int32_t sy, int32_t flags) noexcept {
  OV_GUARD(ExportOperands o; if (src && TakeExport(&o, "ovBltImage", dst, src, nullptr))
               BltW(*o.dst, dx, dy, w, h, *o.src, sx, sy, flags))
}
void ovBltImageMirror(ApiHandle* dst, int32_t dx, int32_t dy, int32_t w, int32_t h, ApiHandle* src,
                      int32_t sx, int32_t sy, int32_t flags) noexcept {
  OV_GUARD(ExportOperands o; if (src && TakeExport(&o, "ovBltImageMirror", dst, src, nullptr))
               MirrorW(*o.dst, dx, dy, w, h, *o.src, sx, sy, flags))
}
void ovBltImageStretch(ApiHandle* dst, int32_t dx, int32_t dy, int32_t dw, int32_t dh, ApiHandle* src,
                       int32_t sx, int32_t sy, int32_t sw, int32_t sh, int32_t flags) noexcept {
  OV_GUARD(ExportOperands o; if (src && TakeExport(&o, "ovBltImageStretch", dst, src, nullptr))
               StretchW(*o.dst, dx, dy, dw, dh, *o.src, sx, sy, sw, sh, flags))
}
void ovBltImageRotate(ApiHandle* dst, int32_t x, int32_t y, ApiHandle* src, int32_t cx, int32_t cy,
                      float angle, float scale) noexcept {
  OV_GUARD(ExportOperands o; if (src && TakeExport(&o, "ovBltImageRotate", dst, src, nullptr))
               RotateW(*o.dst, x, y, *o.src, cx, cy, angle, scale))
}
void ovBltImageWipe(ApiHandle* dst, int32_t dx, int32_t dy, int32_t w, int32_t h, ApiHandle* src, int32_t sx,
                    int32_t sy, ApiHandle* wipe, float level, int32_t direction) noexcept {
  OV_GUARD(ExportOperands o; if (src && wipe && TakeExport(&o, "ovBltImageWipe", dst, src, wipe))
               WipeW(*o.dst, dx, dy, w, h, *o.src, sx, sy, *o.wipe, level, direction))
}
void ovBltAlphaImageWipe(ApiHandle* dst, int32_t dx, int32_t dy, int32_t w, int32_t h, ApiHandle* src,
                         int32_t sx, int32_t sy, ApiHandle* wipe, float level, int32_t direction) noexcept {
  OV_GUARD(ExportOperands o; if (src && wipe && TakeExport(&o, "ovBltAlphaImageWipe", dst, src, wipe))
               AlphaWipeW(*o.dst, dx, dy, w, h, *o.src, sx, sy, *o.wipe, level, direction))
}
void ovFillAlphaImageWipe(ApiHandle* image, int32_t x, int32_t y, int32_t w, int32_t h, int32_t a, int32_t b,
                          ApiHandle* wipe, float level, int32_t direction) noexcept {
  OV_GUARD(ExportOperands o; if (wipe && TakeExport(&o, "ovFillAlphaImageWipe", image, nullptr, wipe))
               FillAlphaWipeW(*o.dst, x, y, w, h, a, b, *o.wipe, level, direction))
}
void ovConvAlphaImage(ApiHandle* dst, int32_t dx, int32_t dy, int32_t w, int32_t h, ApiHandle* src,
                      int32_t sx, int32_t sy) noexcept {
  OV_GUARD(ExportOperands o; if (src && TakeExport(&o, "ovConvAlphaImage", dst, src, nullptr))
               ConvAlphaW(*o.dst, dx, dy, w, h, *o.src, sx, sy))
}
void ovConvTransAlphaImage(ApiHandle* dst, int32_t dx, int32_t dy, int32_t w, int32_t h, ApiHandle* src,
                           int32_t sx, int32_t sy) noexcept {
  OV_GUARD(ExportOperands o; if (src && TakeExport(&o, "ovConvTransAlphaImage", dst, src, nullptr))
               ConvTransAlphaW(*o.dst, dx, dy, w, h, *o.src, sx, sy))
}
void ovFillAlphaImage(ApiHandle* image, int32_t value) noexcept {
  OV_GUARD(ExportOperands o;
           if (TakeExport(&o, "ovFillAlphaImage", image, nullptr, nullptr)) FillAlphaW(*o.dst, value))
}
void ovFillAlphaImageRect(ApiHandle* image, int32_t x, int32_t y, int32_t w, int32_t h,
                          int32_t value) noexcept {
  OV_GUARD(ExportOperands o; if (TakeExport(&o, "ovFillAlphaImageRect", image, nullptr, nullptr))
               FillAlphaRectW(*o.dst, x, y, w, h, value))
}
int32_t ovShareAlphaImage(ApiHandle* image, ApiHandle* source) noexcept {
  try {
    ExportOperands o;
    return source && TakeExport(&o, "ovShareAlphaImage", image, source, nullptr) &&
                   ShareAlphaW(*o.dst, *o.src)
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}
void ovSeparateAlphaImage(ApiHandle* image) noexcept {
  OV_GUARD(ExportOperands o;
           if (TakeExport(&o, "ovSeparateAlphaImage", image, nullptr, nullptr)) SeparateAlphaW(*o.dst))
}
void ovFillImage(ApiHandle* image, uint8_t r, uint8_t g, uint8_t b) noexcept {
  OV_GUARD(ExportOperands o;
           if (TakeExport(&o, "ovFillImage", image, nullptr, nullptr)) FillW(*o.dst, r, g, b))
}
void ovFillImageRect(ApiHandle* image, int32_t x, int32_t y, int32_t w, int32_t h, uint8_t r, uint8_t g,
                     uint8_t b) noexcept {
  OV_GUARD(ExportOperands o; if (TakeExport(&o, "ovFillImageRect", image, nullptr, nullptr))
               FillRectW(*o.dst, x, y, w, h, r, g, b))
}
OvColor ovGetImageColor(ApiHandle* image, int32_t x, int32_t y) noexcept {
  try {
    ExportOperands o;
    if (TakeExport(&o, "ovGetImageColor", image, nullptr, nullptr)) return GetColorW(*o.dst, x, y);
  } catch (...) {
  }
  return OvColor{};
}
void ovPutImageColor(ApiHandle* image, int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) noexcept {
  OV_GUARD(ExportOperands o;
           if (TakeExport(&o, "ovPutImageColor", image, nullptr, nullptr)) PutColorW(*o.dst, x, y, r, g, b))
}
void ovDrawImageLine(ApiHandle* image, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint8_t r, uint8_t g,
                     uint8_t b) noexcept {
  OV_GUARD(ExportOperands o; if (TakeExport(&o, "ovDrawImageLine", image, nullptr, nullptr))
               LineW(*o.dst, x1, y1, x2, y2, r, g, b))
}

void ovSetSpriteLevel(int32_t n) noexcept {
  OV_GUARD(if (!InTssMode()) Sprites().SetLevelCount(n))
}
int32_t ovRegSpriteImage(ApiHandle* image, int32_t level) noexcept {
  try {
    ExportOperands o;
    return TakeExport(&o, "ovRegSpriteImage", image, nullptr, nullptr) && RegW(*o.dst, level) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
void ovUnregSpriteImage(ApiHandle* image) noexcept {
  OV_GUARD(ExportOperands o;
           if (TakeExport(&o, "ovUnregSpriteImage", image, nullptr, nullptr)) UnregW(*o.dst))
}
void ovPushSpriteImageStatus(void) noexcept {
  OV_GUARD(if (!InTssMode()) PushSpriteStatusW())
}
void ovPopSpriteImageStatus(void) noexcept {
  OV_GUARD(if (!InTssMode()) PopSpriteStatusW())
}
void ovSetSpriteImageDraw(int32_t flag) noexcept {
  OV_GUARD(if (!InTssMode()) SpriteImageDrawW(flag))
}
void ovSetFlipMapping(int32_t flag, int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t sx, int32_t sy,
                      int32_t sw, int32_t sh) noexcept {
  OV_GUARD(if (!InTssMode()) DrawScreen().SetFlipMapping(flag != 0, dx, dy, dw, dh, sx, sy, sw, sh))
}
void ovUpdateSprite(void) noexcept {
  OV_GUARD(if (!InTssMode()) UpdateW())
}
void ovRenderSprite(void) noexcept {
  OV_GUARD(if (!InTssMode()) RenderW())
}
void ovClearSprite(void) noexcept {
  OV_GUARD(if (!InTssMode()) ClearDirtyW())
}
void ovFlipSprite(int32_t) noexcept {
  OV_GUARD(if (!InTssMode()) PresentW())
}
void ovRenderSpriteScreen(void) noexcept {
  OV_GUARD(if (!InTssMode()) RenderScreenW())
}
void ovRenderSpriteWait(void) noexcept {
  OV_GUARD(if (!InTssMode()) RenderWaitW())
}
void ovSetSpriteUpdate(int32_t x, int32_t y, int32_t w, int32_t h) noexcept {
  OV_GUARD(if (!InTssMode()) Sprites().SetUpdate(x, y, w, h))
}
void ovSetSpriteUpdateAll(void) noexcept {
  OV_GUARD(if (!InTssMode()) SetAllDirtyW())
}

}  // extern "C"

namespace {
bool BiRenderSpriteScreen(ScriptContext* ctx) {
  if (!RefuseInTssMode(ctx)) ovRenderSpriteScreen();
  return false;
}
bool BiRenderSpriteWait(ScriptContext* ctx) {
  if (!RefuseInTssMode(ctx)) ovRenderSpriteWait();
  return false;
}
}  // namespace

ORVANE_START_CODE void InstallDrawBlitBuiltins() {
  const struct {
    uint32_t n;
    VmHandler h;
  } table[] = {
      {42, Guarded<BiBltImage>},
      {174, Guarded<BiBltImageMirror>},
      {137, Guarded<BiBltImageStretch>},
      {136, Guarded<BiBltImageRotate>},
      {243, Guarded<BiBltImageWipe>},
      {260, Guarded<BiBltAlphaImageWipe>},
      {264, Guarded<BiFillAlphaImageWipe>},
      {259, Guarded<BiConvAlphaImage>},
      {258, Guarded<BiConvTransAlphaImage>},
      {256, Guarded<BiFillAlphaImage>},
      {257, Guarded<BiFillAlphaImageRect>},
      {254, Guarded<BiShareAlphaImage>},
      {255, Guarded<BiSeparateAlphaImage>},
      {38, Guarded<BiFillImage>},
      {39, Guarded<BiFillImageRect>},
      {41, Guarded<BiPutImageColor>},
      {40, Guarded<BiGetImageColor>},
      {195, Guarded<BiDrawImageLine>},
      {1, Guarded<BiSetSpriteLevel>},
      {166, Guarded<BiRegSpriteImage>},
      {167, Guarded<BiUnregSpriteImage>},
      {48, Guarded<BiSetSpriteUpdate>},
      {49, Guarded<BiStep<SetAllDirtyW>>},
      {44, Guarded<BiStep<ClearDirtyW>>},
      {32, Guarded<BiStep<UpdateW>>},
      {3, Guarded<BiStep<RenderW>>},
      {45, Guarded<BiFlipSprite>},
      {46, Guarded<BiRenderSpriteScreen>},
      {47, Guarded<BiRenderSpriteWait>},
      {229, Guarded<BiSetFlipMapping>},
      {193, Guarded<BiSetSpriteImageDraw>},
      {191, Guarded<BiStep<PushSpriteStatusW>>},
      {192, Guarded<BiStep<PopSpriteStatusW>>},
  };
  for (const auto& e : table) SetVmBuiltin(e.n, e.h);
}
