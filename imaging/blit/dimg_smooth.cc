// Filtered stretch: the entries, the two-pass driver and the four passes of each 16-bit format.
#include "imaging/blit/dimg_smooth.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/dimage.h"
#include "imaging/dimg_blit.h"
#include "imaging/dimg_clip.h"

namespace {

// A 16-bit pixel widened to 8-bit channels R, G, B, A: each channel's bits at the top of its
// byte, low bits 0; RGB565 drops the lowest green bit and has alpha 255.
template <DimgFormat F>
void Unpack(std::uint16_t p, std::uint8_t* c) {
  if constexpr (F == DimgFormat::RGB565) {
    c[0] = static_cast<std::uint8_t>((p >> 8) & 0xF8);
    c[1] = static_cast<std::uint8_t>((p >> 3) & 0xF8);
    c[2] = static_cast<std::uint8_t>((p << 3) & 0xF8);
    c[3] = 255;
  } else {
    static_assert(F == DimgFormat::ARGB1555);
    c[0] = static_cast<std::uint8_t>((p >> 7) & 0xF8);
    c[1] = static_cast<std::uint8_t>((p >> 2) & 0xF8);
    c[2] = static_cast<std::uint8_t>((p << 3) & 0xF8);
    c[3] = (p & 0x8000) ? 255 : 0;
  }
}

// 8-bit channels narrowed to the 16-bit format, truncating; ARGB1555 alpha is set from 128.
template <DimgFormat F>
std::uint16_t Pack(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
  if constexpr (F == DimgFormat::RGB565) {
    return static_cast<std::uint16_t>(((r & 0xF8) << 8) | ((g & 0xF8) << 3) | (b >> 3));
  } else {
    return static_cast<std::uint16_t>(((a & 0x80) << 8) | ((r & 0xF8) << 7) | ((g & 0xF8) << 2) | (b >> 3));
  }
}

std::uint16_t Load16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
void Store16(std::uint8_t* p, std::uint16_t v) {
  std::memcpy(p, &v, 2);
}

// m / n rounded to single precision.
float Step(std::uint32_t m, std::uint32_t n) {
  return static_cast<float>(static_cast<double>(m) / static_cast<double>(n));
}

// trunc(p) as an index, never past last.
std::uint32_t IndexOf(double p, std::uint32_t last) {
  const double t = std::trunc(p);
  return t >= static_cast<double>(last) ? last : static_cast<std::uint32_t>(t);
}

// One output of an interpolating pass: inputs i and j (j = i + 1 but at most m - 1) and the
// 16-bit fraction f between them.
struct Tap {
  std::uint32_t i, j, f;
};

// The taps of n outputs from m inputs; the position grows by the single-precision step, kept in
// double precision (horizontal) or rounded to single precision after each addition (vertical).
std::vector<Tap> Taps(std::uint32_t m, std::uint32_t n, bool single) {
  std::vector<Tap> taps(n);
  const float step = Step(m, n);
  double x = 0;
  float y = 0;
  for (std::uint32_t k = 0; k < n; ++k) {
    const double p = single ? static_cast<double>(y) : x;
    const std::uint32_t i = IndexOf(p, m - 1);
    const double f = std::min((p - i) * 65536.0, 65535.0);
    taps[k] = {i, std::min(i + 1, m - 1), static_cast<std::uint32_t>(f)};
    x += step;
    y += step;
  }
  return taps;
}

// c0 + floor((c1 - c0) f / 65536).
std::uint8_t Lerp(std::uint32_t c0, std::uint32_t c1, std::uint32_t f) {
  const std::int32_t diff = static_cast<std::int32_t>(c1) - static_cast<std::int32_t>(c0);
  return static_cast<std::uint8_t>(static_cast<std::int32_t>(c0) +
                                   ((diff * static_cast<std::int32_t>(f)) >> 16));
}

// The averaging tables of n outputs from m > n inputs: output k covers inputs index[k] to
// index[k + 1], the first weighted 256 - weight[k], the last weight[k + 1], those between whole;
// the sum is scaled by 256 / divisor. The last output takes the whole last input (weight 256).
struct Averager {
  std::vector<std::uint32_t> index, weight;
  std::uint64_t divisor = 256;

  Averager(std::uint32_t m, std::uint32_t n) : index(n + 1), weight(n + 1) {
    const float step = Step(m, n);
    double x = 0;
    for (std::uint32_t k = 0; k < n; ++k, x += step) {
      index[k] = IndexOf(x, m - 1);
      const double frac = x - std::trunc(x);
      weight[k] = std::trunc(x) > m - 1 ? 0 : static_cast<std::uint32_t>(frac * 256.0);
    }
    index[n] = m - 1;
    weight[n] = 256;
    divisor = std::max<std::uint64_t>(static_cast<std::uint64_t>(step * 256.0f), 1);
  }

  // Output k of one channel; c(j) reads input j.
  template <typename Channel>
  std::uint8_t Average(std::uint32_t k, Channel c) const {
    const std::uint32_t s = index[k], e = index[k + 1];
    if (e <= s) return static_cast<std::uint8_t>(c(s));  // the output lies within one input
    std::uint64_t sum = (std::uint64_t{c(s)} * (256 - weight[k])) >> 8;
    for (std::uint32_t j = s + 1; j < e; ++j) sum += c(j);
    sum += (std::uint64_t{c(e)} * weight[k + 1]) >> 8;
    return static_cast<std::uint8_t>(std::min<std::uint64_t>(sum * 256 / divisor, 255));
  }
};

}  // namespace

template <DimgFormat F>
void DimgSmoothEnlargeH(std::uint8_t* tmp_top, const DImage& tmp, std::uint32_t dw, const std::uint8_t* src,
                        const DImage& src_image, std::uint32_t sw, std::uint32_t rows) {
  if (dw == 0 || sw == 0 || rows == 0) return;
  const std::vector<Tap> taps = Taps(sw, dw, false);
  std::vector<std::uint8_t> in(4 * std::size_t{sw});
  std::uint8_t* out = tmp_top;
  for (std::uint32_t y = 0;;) {
    for (std::uint32_t i = 0; i < sw; ++i)
      Unpack<F>(Load16(src + 2 * std::size_t{i}), &in[4 * std::size_t{i}]);
    for (std::uint32_t k = 0; k < dw; ++k) {
      const std::uint8_t* c0 = &in[4 * std::size_t{taps[k].i}];
      const std::uint8_t* c1 = &in[4 * std::size_t{taps[k].j}];
      std::uint8_t* o = out + 4 * std::size_t{k};
      for (int ch = 0; ch < 4; ++ch) o[ch] = Lerp(c0[ch], c1[ch], taps[k].f);
    }
    if (++y == rows) break;
    src = src_image.NextLine(src);
    out = tmp.NextLine(out);
  }
}

template <DimgFormat F>
void DimgSmoothReduceH(std::uint8_t* tmp_top, const DImage& tmp, std::uint32_t dw, const std::uint8_t* src,
                       const DImage& src_image, std::uint32_t sw, std::uint32_t rows) {
  if (dw == 0 || sw == 0 || rows == 0) return;
  const Averager avg(sw, dw);
  std::vector<std::uint8_t> in(4 * std::size_t{sw});
  std::uint8_t* out = tmp_top;
  for (std::uint32_t y = 0;;) {
    for (std::uint32_t i = 0; i < sw; ++i)
      Unpack<F>(Load16(src + 2 * std::size_t{i}), &in[4 * std::size_t{i}]);
    for (std::uint32_t k = 0; k < dw; ++k)
      for (int ch = 0; ch < 4; ++ch)
        out[4 * std::size_t{k} + ch] =
            avg.Average(k, [&](std::uint32_t j) { return in[4 * std::size_t{j} + ch]; });
    if (++y == rows) break;
    src = src_image.NextLine(src);
    out = tmp.NextLine(out);
  }
}

template <DimgFormat F>
void DimgSmoothEnlargeV(std::uint8_t* dst, const DImage& dst_image, const std::uint8_t* tmp_top,
                        const DImage& tmp, std::uint32_t tmp_rows, std::uint32_t width, std::uint32_t dh) {
  if (dh == 0 || tmp_rows == 0 || width == 0) return;
  const std::vector<Tap> taps = Taps(tmp_rows, dh, true);
  for (std::uint32_t k = 0;;) {
    const std::uint8_t* r0 = tmp.OffsetPointer(tmp_top, 0, static_cast<std::int32_t>(taps[k].i));
    const std::uint8_t* r1 = tmp.OffsetPointer(tmp_top, 0, static_cast<std::int32_t>(taps[k].j));
    const std::uint32_t f = taps[k].f;
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint8_t* a = r0 + 4 * std::size_t{x};
      const std::uint8_t* b = r1 + 4 * std::size_t{x};
      const std::uint32_t alpha = F == DimgFormat::ARGB1555 ? Lerp(a[3], b[3], f) : 255;
      Store16(dst + 2 * std::size_t{x},
              Pack<F>(Lerp(a[0], b[0], f), Lerp(a[1], b[1], f), Lerp(a[2], b[2], f), alpha));
    }
    if (++k == dh) break;
    dst = dst_image.NextLine(dst);
  }
}

template <DimgFormat F>
void DimgSmoothReduceV(std::uint8_t* dst, const DImage& dst_image, const std::uint8_t* tmp_top,
                       const DImage& tmp, std::uint32_t tmp_rows, std::uint32_t width, std::uint32_t dh) {
  if (dh == 0 || tmp_rows == 0 || width == 0) return;
  const Averager avg(tmp_rows, dh);
  // The rows of the temporary in picture order, found once.
  std::vector<const std::uint8_t*> rows(tmp_rows);
  rows[0] = tmp.OffsetPointer(tmp_top, 0, 0);
  for (std::uint32_t r = 1; r < tmp_rows; ++r) rows[r] = tmp.NextLine(rows[r - 1]);
  const int channels = F == DimgFormat::ARGB1555 ? 4 : 3;
  for (std::uint32_t k = 0;;) {
    for (std::uint32_t x = 0; x < width; ++x) {
      std::uint8_t c[4] = {0, 0, 0, 255};
      for (int ch = 0; ch < channels; ++ch)
        c[ch] = avg.Average(k, [&](std::uint32_t j) { return rows[j][4 * std::size_t{x} + ch]; });
      Store16(dst + 2 * std::size_t{x}, Pack<F>(c[0], c[1], c[2], c[3]));
    }
    if (++k == dh) break;
    dst = dst_image.NextLine(dst);
  }
}

template <DimgFormat F>
void DimgSmoothTwoPass(std::uint8_t* dst, const DImage& dst_image, std::uint32_t dw, std::uint32_t dh,
                       const std::uint8_t* src, const DImage& src_image, std::uint32_t sw, std::uint32_t sh,
                       std::uint8_t /*alpha*/) {
  if (dw == 0 || dh == 0 || sw == 0 || sh == 0) return;
  DImage tmp;
  try {
    if (!tmp.Create(dw, sh, 0, DimgFormat::RGBA8888)) return;  // beyond the image size cap
  } catch (const std::bad_alloc&) {
    return;
  }
  std::uint8_t* top = tmp.GetTopLine();
  if (dw >= sw) {
    DimgSmoothEnlargeH<F>(top, tmp, dw, src, src_image, sw, sh);
  } else {
    DimgSmoothReduceH<F>(top, tmp, dw, src, src_image, sw, sh);
  }
  if (dh >= sh) {
    DimgSmoothEnlargeV<F>(dst, dst_image, top, tmp, sh, dw, dh);
  } else {
    DimgSmoothReduceV<F>(dst, dst_image, top, tmp, sh, dw, dh);
  }
}

namespace {

template <DimgFormat F>
void StretchSmooth(std::uint8_t* dst_top, DImage& dst, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                   std::uint32_t dh, const std::uint8_t* src_top, const DImage& src, std::int32_t sx,
                   std::int32_t sy, std::uint32_t sw, std::uint32_t sh, std::uint8_t alpha) {
  if (dst_top == nullptr || src_top == nullptr) return;
  const std::uint32_t dst_w = dst.GetWidth(), dst_h = dst.GetHeight();
  const std::uint32_t src_w = src.GetWidth(), src_h = src.GetHeight();
  DimgClipStretch(dx, dy, dw, dh, sx, sy, sw, sh, dst_w, dst_h, src_w, src_h);
  if (dw == sw && dh == sh) {
    DimgStretchBlt16(dst_top, dst, dx, dy, dw, dh, src_top, src, sx, sy, sw, sh, alpha);  // raw copy
    return;
  }
  if (dw == 0 || dh == 0 || sw == 0 || sh == 0) return;
  if (!DimgRectInside(dx, dy, dw, dh, dst_w, dst_h) || !DimgRectInside(sx, sy, sw, sh, src_w, src_h)) return;
  std::uint8_t* d = dst.OffsetLine(dst_top, dy) + 2 * std::ptrdiff_t{dx};
  const std::uint8_t* s = src.OffsetLine(src_top, sy) + 2 * std::ptrdiff_t{sx};
  DimgSmoothTwoPass<F>(d, dst, dw, dh, s, src, sw, sh, alpha);
}

}  // namespace

void DimgStretchSmoothRGB565(std::uint8_t* dst_top, DImage& dst, std::int32_t dx, std::int32_t dy,
                             std::uint32_t dw, std::uint32_t dh, const std::uint8_t* src_top,
                             const DImage& src, std::int32_t sx, std::int32_t sy, std::uint32_t sw,
                             std::uint32_t sh, std::uint8_t alpha, std::uint8_t /*trailing*/) {
  StretchSmooth<DimgFormat::RGB565>(dst_top, dst, dx, dy, dw, dh, src_top, src, sx, sy, sw, sh, alpha);
}

void DimgStretchSmoothARGB1555(std::uint8_t* dst_top, DImage& dst, std::int32_t dx, std::int32_t dy,
                               std::uint32_t dw, std::uint32_t dh, const std::uint8_t* src_top,
                               const DImage& src, std::int32_t sx, std::int32_t sy, std::uint32_t sw,
                               std::uint32_t sh, std::uint8_t alpha, std::uint8_t /*trailing*/) {
  StretchSmooth<DimgFormat::ARGB1555>(dst_top, dst, dx, dy, dw, dh, src_top, src, sx, sy, sw, sh, alpha);
}

#define DIMG_SMOOTH_INSTANTIATE(F)                                                                      \
  template void DimgSmoothEnlargeH<F>(std::uint8_t*, const DImage&, std::uint32_t, const std::uint8_t*, \
                                      const DImage&, std::uint32_t, std::uint32_t);                     \
  template void DimgSmoothReduceH<F>(std::uint8_t*, const DImage&, std::uint32_t, const std::uint8_t*,  \
                                     const DImage&, std::uint32_t, std::uint32_t);                      \
  template void DimgSmoothEnlargeV<F>(std::uint8_t*, const DImage&, const std::uint8_t*, const DImage&, \
                                      std::uint32_t, std::uint32_t, std::uint32_t);                     \
  template void DimgSmoothReduceV<F>(std::uint8_t*, const DImage&, const std::uint8_t*, const DImage&,  \
                                     std::uint32_t, std::uint32_t, std::uint32_t);                      \
  template void DimgSmoothTwoPass<F>(std::uint8_t*, const DImage&, std::uint32_t, std::uint32_t,        \
                                     const std::uint8_t*, const DImage&, std::uint32_t, std::uint32_t,  \
                                     std::uint8_t);
DIMG_SMOOTH_INSTANTIATE(DimgFormat::RGB565)
DIMG_SMOOTH_INSTANTIATE(DimgFormat::ARGB1555)
