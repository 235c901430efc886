// Device contexts of DirectDraw surfaces: a GDI memory DC whose bitmap is the surface's own memory
// (no copy), so GDI blits land in the surface. Releasing the DC of an exclusive full-screen
// primary shows it in the window, as a blit onto the primary does.
#include <memory>
#include <mutex>

#include "platform/ddraw_internal.h"
#include "platform/gdi_internal.h"

namespace orvane::dx {

namespace {
bool GdiFormat(SurfFormat f, gdi::PixelFormat* out, int* bpp) {
  switch (f) {
    case SurfFormat::kR5G6B5:
      *out = gdi::PixelFormat::k565, *bpp = 16;
      return true;
    case SurfFormat::kX1R5G5B5:
      *out = gdi::PixelFormat::k555, *bpp = 16;
      return true;
    case SurfFormat::kX8R8G8B8:
    case SurfFormat::kA8R8G8B8:
      *out = gdi::PixelFormat::kX888, *bpp = 32;
      return true;
    default:
      return false;
  }
}
}  // namespace

HRESULT SurfaceDcCreate(Surface* s, HDC* out) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (s->lost_) return DDERR_SURFACELOST;
  gdi::PixelFormat format;
  int bpp;
  if (s->dc_) return DDERR_DCALREADYCREATED;  // one DC at a time
  if (s->mem_.empty() || !GdiFormat(s->format_, &format, &bpp)) return DDERR_CANTCREATEDC;
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return DDERR_CANTCREATEDC;
  auto b = std::make_unique<gdi::Bitmap>();
  b->width = s->width_;
  b->height = s->height_;
  b->bpp = bpp;
  b->format = format;
  b->stride = static_cast<std::ptrdiff_t>(s->pitch_);
  b->row0 = s->mem_.data();  // the surface's memory; storage stays empty, nothing is freed
  HBITMAP bitmap;
  {
    std::lock_guard<std::recursive_mutex> l(gdi::Lock());
    auto o = std::make_shared<gdi::Object>();
    o->kind = OBJ_BITMAP;
    o->bitmap = std::move(b);
    bitmap = static_cast<HBITMAP>(gdi::Insert(o));
  }
  if (!bitmap) {
    DeleteDC(dc);
    return DDERR_CANTCREATEDC;
  }
  s->dc_old_ = SelectObject(dc, bitmap);
  s->dc_bitmap_ = bitmap;
  s->dc_ = dc;
  ++s->locks_;  // the memory must not move (Flip) while the DC draws into it
  *out = dc;
  return DD_OK;
}

HRESULT SurfaceDcRelease(Surface* s, HDC dc) {
  if (!dc || dc != s->dc_) return DDERR_INVALIDPARAMS;
  SelectObject(dc, s->dc_old_);
  DeleteObject(s->dc_bitmap_);
  DeleteDC(dc);
  s->dc_ = nullptr;
  s->dc_bitmap_ = nullptr;
  s->dc_old_ = nullptr;
  if (s->locks_ > 0) --s->locks_;
  if ((s->caps_ & DDSCAPS_PRIMARYSURFACE) && s->dd_->FullscreenWindow())
    s->dd_->Show(s->dd_->FullscreenWindow(), s, RECT{0, 0, s->width_, s->height_}, 0, 0);
  return DD_OK;
}

}  // namespace orvane::dx
