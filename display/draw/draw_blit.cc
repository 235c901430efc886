// Blits between draw images: the mode choice, the row loops over a clipped rectangle, the
// begin/rect/end form the sprite list uses, and the mirrored copy.
#include <cstring>
#include <vector>

#include "display/draw/draw_image.h"
#include "imaging/blit/dimg_rows.h"
#include "imaging/dimg_clip.h"
#include "imaging/hal/dhal.h"

namespace {

// Rows sy .. sy + h - 1 of a source image copied whole (same width, so the maps still step by
// the source width), for blits whose source and destination share pixels.
struct SourceCopy {
  DImage image;
  bool Take(const DImage& src, std::int32_t sy, std::uint32_t h) {
    if (!image.Create(src.GetWidth(), h, src.GetPitch(), src.GetFormat())) return false;
    std::size_t bytes = std::size_t(src.GetWidth()) * src.GetBytesPerPixel();
    for (std::uint32_t k = 0; k < h; ++k)
      std::memcpy(image.GetPixelPointer(0, static_cast<std::int32_t>(k)),
                  src.GetPixelPointer(0, sy + static_cast<std::int32_t>(k)), bytes);
    return true;
  }
};

bool SharePixels(const DImage* a, const DImage* b) {
  return a && b && a->Bits() == b->Bits();
}

}  // namespace

void DrawImage::RunBlt(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
                       DrawImage& source, std::int32_t sx, std::int32_t sy, std::uint32_t mode) {
  DImage* dst = GetImage();
  const DImage* src = source.GetImage();
  if (!dst || !src || mode == 3 || mode > 21 || !DHalSpans.Copy) return;
  std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
  DimgClipBoth(dx, dy, sx, sy, w, h, dst->GetWidth(), dst->GetHeight(), src->GetWidth(), src->GetHeight());
  if (!w || !h) return;
  const DrawImageRecord& rec = *source.record_;
  std::unique_lock<std::mutex> frame;
  if (rec.frame_lock) frame = std::unique_lock<std::mutex>(*rec.frame_lock);
  const std::uint64_t map_offset = std::uint64_t(sy) * src->GetWidth() + std::uint64_t(sx);
  DimgRowArgs a;
  a.w = w;
  a.h = h;
  a.key = rec.key;
  a.level = source.alpha_key_;
  const std::uint8_t* runs = source.ValidRunMap();
  const std::uint8_t* layer = source.ValidAlpha();
  a.run_map = runs ? runs + map_offset : nullptr;
  a.layer = layer ? layer + map_offset : nullptr;
  // The run-map and layer modes need their maps; a source without them draws nothing.
  static constexpr bool kNeedsRuns[22] = {0, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1};
  static constexpr bool kNeedsLayer[22] = {0, 0, 0, 0, 1, 1, 0, 0, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  if ((kNeedsRuns[mode] && !a.run_map) || (kNeedsLayer[mode] && !a.layer)) return;
  a.dst = dst->GetPixelPointer(dx, dy);
  a.dst_image = dst;
  SourceCopy copy;
  if (SharePixels(dst, src)) {
    // Reading the destination's own pixels while writing them would smear; read a copy.
    if (!copy.Take(*src, sy, h)) return;
    a.src = copy.image.GetPixelPointer(sx, 0);
    a.src_image = &copy.image;
  } else {
    a.src = src->GetPixelPointer(sx, sy);
    a.src_image = src;
  }
  DimgRunRows(mode, a);
}

namespace {
std::uint32_t ModeFor(const DrawImage& source, std::uint32_t flags) {
  DimgImageRecord r;
  r.flags = source.GetRecord() ? source.GetRecord()->flags : 0;
  return DimgSelectBltMode(static_cast<std::int32_t>(source.GetBlend()), r, source.GetAlphaKey(), flags);
}
}  // namespace

void DrawImage::Blt(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
                    DrawImage& source, std::int32_t sx, std::int32_t sy, std::uint32_t flags) {
  if (!source.record_ || !record_) return;
  RunBlt(dx, dy, width, height, source, sx, sy, ModeFor(source, flags));
}

void DrawImage::BeginBlt(DrawImage& source, std::uint32_t flags) {
  blt_mode_ = ModeFor(source, flags);
  blt_source_ = &source;
}

void DrawImage::BltRect(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
                        std::int32_t sx, std::int32_t sy) {
  if (!blt_source_ || !blt_source_->record_ || !record_) return;
  RunBlt(dx, dy, width, height, *blt_source_, sx, sy, blt_mode_);
}

void DrawImage::EndBlt() {
  blt_source_ = nullptr;
}

void DrawImage::BltMirror(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
                          DrawImage& source, std::int32_t sx, std::int32_t sy, std::uint32_t flags) {
  DImage* dst = GetImage();
  const DImage* src = source.GetImage();
  if (!dst || !src || !DHalSpans.Copy) return;
  std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
  DimgClipBoth(dx, dy, sx, sy, w, h, dst->GetWidth(), dst->GetHeight(), src->GetWidth(), src->GetHeight());
  if (!w || !h) return;
  const std::int32_t sh = static_cast<std::int32_t>(src->GetHeight());
  // The source rows read: sy .. sy + h - 1, or, read from the bottom edge, sh - sy - h .. sh - 1 - sy
  // (inside the image because the clip kept sy + h <= sh).
  const std::int32_t first = (flags & 2) ? sh - sy - static_cast<std::int32_t>(h) : sy;
  std::unique_lock<std::mutex> frame;
  if (source.record_ && source.record_->frame_lock) frame = std::unique_lock<std::mutex>(*source.record_->frame_lock);
  SourceCopy copy;
  const DImage* from = src;
  std::int32_t base = 0;
  if (SharePixels(dst, src)) {
    if (!copy.Take(*src, first, h)) return;
    from = &copy.image;
    base = first;
  }
  for (std::uint32_t k = 0; k < h; ++k) {
    std::int32_t row =
        (flags & 2) ? sh - 1 - sy - static_cast<std::int32_t>(k) : sy + static_cast<std::int32_t>(k);
    const std::uint8_t* s = from->GetPixelPointer(sx, row - base);
    std::uint8_t* d = dst->GetPixelPointer(dx, dy + static_cast<std::int32_t>(k));
    if (flags & 1) {
      DHalSpans.CopyMirror16(d, s, w);
    } else {
      DHalSpans.Copy(d, s, 2 * w);
    }
  }
}
