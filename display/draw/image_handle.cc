// Image handles, wipe-map building, and the three wipe operations of draw images.
#include "display/draw/image_handle.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/dimg_blit.h"
#include "imaging/dimg_clip.h"
#include "imaging/hal/dhal.h"

// ---- ImageHandle.

void ImageHandle::Reset() {
  text_pos = DPoint(0, 0);
  text_box = DRect(0, 0, image ? image->GetWidth() : 0, image ? image->GetHeight() : 0);
  text_color = 0;
  text_mode = 0;
  layout = 0x212;
}

bool ImageHandle::Attach(const DRef<ConnectedImage>& img) {
  if (image) return false;
  image = img;
  Reset();
  return true;
}

bool ImageHandle::CopyFrom(const ImageHandle& other) {
  if (image) return false;
  image = other.image;
  text_pos = other.text_pos;
  text_box = other.text_box;
  text_color = other.text_color;
  text_mode = other.text_mode;
  layout = other.layout;
  return true;
}

bool ImageHandle::Clear() {
  if (!image) return false;
  image.Release();
  return true;
}

// ---- Wipe maps.

bool BuildWipeMap(WipeMap& map, const DImage& source, std::int32_t mode, const ConnectedImage& screen) {
  if (mode != 0 && mode != 1) return false;
  const std::int64_t mw = screen.GetWidth(), mh = screen.GetHeight();
  const std::int64_t sw = source.GetWidth(), sh = source.GetHeight();
  // An empty picture has nothing to repeat (and a repeat by its width would divide by zero).
  if (mw <= 0 || mh <= 0 || sw <= 0 || sh <= 0 || mw * mh > 0x7FFFFFFF) return false;
  const DImage* rgb = &source;
  DImage converted;
  try {
    if (source.GetFormat() != DimgFormat::RGB888) {
      if (!converted.Create(static_cast<std::uint32_t>(sw), static_cast<std::uint32_t>(sh), 0,
                            DimgFormat::RGB888))
        return false;
      DimgBlt(converted, source, 0, 0, static_cast<std::uint32_t>(sw), static_cast<std::uint32_t>(sh), 0, 0,
              static_cast<std::uint32_t>(sw), static_cast<std::uint32_t>(sh));
      rgb = &converted;
    }
    map.data.Alloc(static_cast<std::uint32_t>(mw * mh));
  } catch (const std::bad_alloc&) {  // DBadAlloc too
    return false;
  }
  map.width = static_cast<std::uint32_t>(mw);
  map.height = static_cast<std::uint32_t>(mh);
  const std::uint16_t flag = 0x8000;
  const std::int64_t cw = std::min(mw, sw), ch = std::min(mh, sh);
  std::uint16_t* out = map.data.Get();
  for (std::int64_t y = 0; y < ch; ++y) {
    const std::uint8_t* row = rgb->GetPixelPointer(0, static_cast<std::int32_t>(y));
    std::uint16_t* o = out + y * mw;
    for (std::int64_t x = 0; x < cw; ++x) {
      const std::uint8_t* p = row + 3 * x;
      std::uint32_t level =
          mode == 0 ? (std::uint32_t(p[2]) * 32767u) / 255u : (std::uint32_t(p[0]) << 7) | (p[1] >> 1);
      o[x] = static_cast<std::uint16_t>(flag | std::min<std::uint32_t>(level, 0x7FFF));
    }
    for (std::int64_t x = sw; x < mw; ++x) o[x] = o[x % sw];
  }
  for (std::int64_t y = ch; y < mh; ++y) std::memcpy(out + y * mw, out + (y % sh) * mw, std::size_t(mw) * 2);
  return true;
}

// ---- Wipes.

namespace {
std::uint16_t Threshold(std::uint32_t t) {
  return static_cast<std::uint16_t>(std::min<std::uint32_t>(t, 0x7FFF));
}
}  // namespace

void DrawImage::BltWipe(DrawImage& source, std::int32_t dx, std::int32_t dy, std::int32_t width,
                        std::int32_t height, std::int32_t sx, std::int32_t sy, const WipeMap& map,
                        std::uint32_t t, std::uint32_t direction) {
  DImage* dst = GetImage();
  const DImage* src = source.GetImage();
  if (direction > 1 || !dst || !src || !map.data || !DHalSpans.ThresholdCopy16) return;
  std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
  DimgClipBoth(dx, dy, sx, sy, w, h, dst->GetWidth(), dst->GetHeight(), src->GetWidth(), src->GetHeight());
  w = std::min(w, map.width);
  h = std::min(h, map.height);
  if (!w || !h) return;
  // A source sharing the destination's pixels is read from a copy of its rectangle.
  std::vector<std::uint8_t> copy;
  if (src->Bits() == dst->Bits()) {
    copy.resize(std::size_t(w) * 2 * h);
    for (std::uint32_t k = 0; k < h; ++k)
      std::memcpy(&copy[std::size_t(k) * 2 * w], src->GetPixelPointer(sx, sy + static_cast<std::int32_t>(k)),
                  2 * w);
  }
  auto span = direction == 1 ? DHalSpans.ThresholdCopy16 : DHalSpans.ThresholdCopy16Rev;
  for (std::uint32_t k = 0; k < h; ++k) {
    const std::uint8_t* s = copy.empty() ? src->GetPixelPointer(sx, sy + static_cast<std::int32_t>(k))
                                         : &copy[std::size_t(k) * 2 * w];
    span(dst->GetPixelPointer(dx, dy + static_cast<std::int32_t>(k)), s, w,
         map.data.Get() + std::size_t(k) * map.width, Threshold(t));
  }
}

void DrawImage::BltAlphaWipe(std::int32_t dx, std::int32_t dy, std::int32_t width, std::int32_t height,
                             DrawImage& source, std::int32_t sx, std::int32_t sy, const WipeMap& map,
                             std::uint32_t t, std::uint32_t direction) {
  std::uint8_t* plane = ValidAlpha();
  const std::uint8_t* from = source.ValidAlpha();
  if (direction > 1 || !IsAlpha() || !source.IsAlpha() || !plane || !from || !map.data ||
      !DHalSpans.ThresholdCopy8)
    return;
  std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
  const std::int32_t dw = GetWidth(), sw = source.GetWidth();
  DimgClipBoth(dx, dy, sx, sy, w, h, dw, GetHeight(), sw, source.GetHeight());
  w = std::min(w, map.width);
  h = std::min(h, map.height);
  if (!w || !h) return;
  std::vector<std::uint8_t> copy;
  if (plane == from) {
    copy.resize(std::size_t(w) * h);
    for (std::uint32_t k = 0; k < h; ++k)
      std::memcpy(&copy[std::size_t(k) * w], from + std::size_t(sy + k) * sw + sx, w);
  }
  auto span = direction == 1 ? DHalSpans.ThresholdCopy8 : DHalSpans.ThresholdCopy8Rev;
  for (std::uint32_t k = 0; k < h; ++k) {
    const std::uint8_t* s = copy.empty() ? from + std::size_t(sy + k) * sw + sx : &copy[std::size_t(k) * w];
    span(plane + std::size_t(dy + k) * dw + dx, s, w, map.data.Get() + std::size_t(k) * map.width,
         Threshold(t));
  }
}

void DrawImage::FillAlphaWipe(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height,
                              std::uint8_t a, std::uint8_t b, const WipeMap& map, std::uint32_t t,
                              std::uint32_t direction) {
  std::uint8_t* plane = ValidAlpha();
  if (direction > 1 || !IsAlpha() || !plane || !map.data || !DHalSpans.ThresholdFill8) return;
  std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
  const std::int32_t dw = GetWidth();
  DimgClip(x, y, w, h, dw, GetHeight());
  w = std::min(w, map.width);
  h = std::min(h, map.height);
  if (!w || !h) return;
  auto span = direction == 1 ? DHalSpans.ThresholdFill8 : DHalSpans.ThresholdFill8Rev;
  for (std::uint32_t k = 0; k < h; ++k)
    span(plane + std::size_t(y + k) * dw + x, a, b, w, map.data.Get() + std::size_t(k) * map.width,
         Threshold(t));
}
