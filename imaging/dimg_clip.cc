// Rectangle clipping for single rectangles, same-size blits and stretched blits.
#include "imaging/dimg_clip.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr std::uint32_t kMaxSize = 0x7FFFFFFFu;

// A size of 2^31 or more is a negative number passed as a size: nothing to draw.
std::uint64_t Size(std::uint32_t s) {
  return s > kMaxSize ? 0 : s;
}

// Cuts size s by margin m, never below 0.
void Cut(std::uint64_t& s, std::uint64_t m) {
  s = s >= m ? s - m : 0;
}

// What is left of an image of size `limit` from position p on: limit - p, or 0 when negative.
std::uint64_t Left(std::uint32_t limit, std::int64_t p) {
  const std::int64_t d = std::int64_t{limit} - p;
  return d > 0 ? static_cast<std::uint64_t>(d) : 0;
}

// R(v): v reduced to single precision, then rounded to the nearest integer with halves to even.
// The ratios are positive and finite here, so v is too; the cap keeps the conversion defined.
std::uint64_t Round(double v) {
  const double r = std::nearbyint(static_cast<double>(static_cast<float>(v)));
  if (!(r > 0)) return 0;
  return r >= 0x1p40 ? (std::uint64_t{1} << 40) : static_cast<std::uint64_t>(r);
}

bool FitsI32(std::int64_t v) {
  return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
}

std::int64_t ClampI32(std::int64_t v) {
  return std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                  std::numeric_limits<std::int32_t>::max());
}

}  // namespace

void DimgClip(std::int32_t& x, std::int32_t& y, std::uint32_t& w, std::uint32_t& h, std::uint32_t iw,
              std::uint32_t ih) {
  std::int64_t px = x, py = y;
  std::uint64_t cw = Size(w), ch = Size(h);
  if (px < 0) Cut(cw, static_cast<std::uint64_t>(-px)), px = 0;
  if (py < 0) Cut(ch, static_cast<std::uint64_t>(-py)), py = 0;
  if (px + static_cast<std::int64_t>(cw) > iw) cw = Left(iw, px);
  if (py + static_cast<std::int64_t>(ch) > ih) ch = Left(ih, py);
  x = static_cast<std::int32_t>(px);
  y = static_cast<std::int32_t>(py);
  w = static_cast<std::uint32_t>(cw);
  h = static_cast<std::uint32_t>(ch);
}

void DimgClipBoth(std::int32_t& dx, std::int32_t& dy, std::int32_t& sx, std::int32_t& sy, std::uint32_t& w,
                  std::uint32_t& h, std::uint32_t dst_width, std::uint32_t dst_height,
                  std::uint32_t src_width, std::uint32_t src_height) {
  std::int64_t x0 = dx, y0 = dy, x1 = sx, y1 = sy;
  std::uint64_t cw = Size(w), ch = Size(h);
  if (x0 < 0) Cut(cw, static_cast<std::uint64_t>(-x0)), x1 -= x0, x0 = 0;
  if (x1 < 0) Cut(cw, static_cast<std::uint64_t>(-x1)), x0 -= x1, x1 = 0;
  if (y0 < 0) Cut(ch, static_cast<std::uint64_t>(-y0)), y1 -= y0, y0 = 0;
  if (y1 < 0) Cut(ch, static_cast<std::uint64_t>(-y1)), y0 -= y1, y1 = 0;
  if (x0 + static_cast<std::int64_t>(cw) > dst_width) cw = Left(dst_width, x0);
  if (y0 + static_cast<std::int64_t>(ch) > dst_height) ch = Left(dst_height, y0);
  if (x1 + static_cast<std::int64_t>(cw) > src_width) cw = Left(src_width, x1);
  if (y1 + static_cast<std::int64_t>(ch) > src_height) ch = Left(src_height, y1);
  // A shifted origin that leaves the 32-bit range lies outside every image.
  if (!FitsI32(x0) || !FitsI32(x1)) cw = 0, x0 = ClampI32(x0), x1 = ClampI32(x1);
  if (!FitsI32(y0) || !FitsI32(y1)) ch = 0, y0 = ClampI32(y0), y1 = ClampI32(y1);
  dx = static_cast<std::int32_t>(x0);
  dy = static_cast<std::int32_t>(y0);
  sx = static_cast<std::int32_t>(x1);
  sy = static_cast<std::int32_t>(y1);
  w = static_cast<std::uint32_t>(cw);
  h = static_cast<std::uint32_t>(ch);
}

void DimgClipStretch(std::int32_t& dx, std::int32_t& dy, std::uint32_t& dw, std::uint32_t& dh,
                     std::int32_t& sx, std::int32_t& sy, std::uint32_t& sw, std::uint32_t& sh,
                     std::uint32_t dst_width, std::uint32_t dst_height, std::uint32_t src_width,
                     std::uint32_t src_height) {
  sw = static_cast<std::uint32_t>(Size(sw));
  sh = static_cast<std::uint32_t>(Size(sh));
  dw = static_cast<std::uint32_t>(Size(dw));
  dh = static_cast<std::uint32_t>(Size(dh));
  if (sw == 0 || sh == 0) return;
  if (dw == 0 || dh == 0) {
    // The ratio would be 0 and the carried amounts meaningless: nothing is drawn.
    dw = dh = sw = sh = 0;
    return;
  }
  const float rx = static_cast<float>(dw) / static_cast<float>(sw);
  const float ry = static_cast<float>(dh) / static_cast<float>(sh);
  const double drx = rx, dry = ry;

  std::int64_t x0 = dx, y0 = dy, x1 = sx, y1 = sy;
  std::uint64_t w0 = dw, h0 = dh, w1 = sw, h1 = sh;

  if (x0 < 0) {
    const std::uint64_t m = static_cast<std::uint64_t>(-x0), t = Round(static_cast<double>(m) / drx);
    Cut(w0, m), x0 = 0, Cut(w1, t), x1 += static_cast<std::int64_t>(t);
  }
  if (x1 < 0) {
    const std::uint64_t m = static_cast<std::uint64_t>(-x1), t = Round(static_cast<double>(m) * drx);
    Cut(w1, m), x1 = 0, Cut(w0, t), x0 += static_cast<std::int64_t>(t);
  }
  if (y0 < 0) {
    const std::uint64_t m = static_cast<std::uint64_t>(-y0), t = Round(static_cast<double>(m) / dry);
    Cut(h0, m), y0 = 0, Cut(h1, t), y1 += static_cast<std::int64_t>(t);
  }
  if (y1 < 0) {
    const std::uint64_t m = static_cast<std::uint64_t>(-y1), t = Round(static_cast<double>(m) * dry);
    Cut(h1, m), y1 = 0, Cut(h0, t), y0 += static_cast<std::int64_t>(t);
  }

  if (x0 + static_cast<std::int64_t>(w0) > dst_width) {
    w0 = Left(dst_width, x0);
    const std::uint64_t t = Round(static_cast<double>(w0) / drx);
    if (w1 >= t)
      w1 = t;
    else
      w0 = Round(static_cast<double>(w1) * drx);
  }
  if (x1 + static_cast<std::int64_t>(w1) > src_width) {
    w1 = Left(src_width, x1);
    const std::uint64_t t = Round(static_cast<double>(w1) * drx);
    if (w0 >= t)
      w0 = t;
    else
      w1 = Round(static_cast<double>(w0) / drx);
  }
  if (y0 + static_cast<std::int64_t>(h0) > dst_height) {
    h0 = Left(dst_height, y0);
    const std::uint64_t t = Round(static_cast<double>(h0) / dry);
    if (h1 >= t)
      h1 = t;
    else
      h0 = Round(static_cast<double>(h1) * dry);
  }
  if (y1 + static_cast<std::int64_t>(h1) > src_height) {
    h1 = Left(src_height, y1);
    const std::uint64_t t = Round(static_cast<double>(h1) * dry);
    if (h0 >= t)
      h0 = t;
    else
      h1 = Round(static_cast<double>(h0) / dry);
  }

  // Origins pushed out of the 32-bit range lie outside every image.
  if (!FitsI32(x0) || !FitsI32(x1)) w0 = w1 = 0, x0 = ClampI32(x0), x1 = ClampI32(x1);
  if (!FitsI32(y0) || !FitsI32(y1)) h0 = h1 = 0, y0 = ClampI32(y0), y1 = ClampI32(y1);
  dx = static_cast<std::int32_t>(x0);
  dy = static_cast<std::int32_t>(y0);
  sx = static_cast<std::int32_t>(x1);
  sy = static_cast<std::int32_t>(y1);
  dw = static_cast<std::uint32_t>(w0 > kMaxSize ? 0 : w0);
  dh = static_cast<std::uint32_t>(h0 > kMaxSize ? 0 : h0);
  sw = static_cast<std::uint32_t>(w1 > kMaxSize ? 0 : w1);
  sh = static_cast<std::uint32_t>(h1 > kMaxSize ? 0 : h1);
  // Rounding cannot carry a rectangle past its image for sizes that images have; should it ever,
  // nothing is drawn rather than anything outside.
  if (!DimgRectInside(dx, dy, dw, dh, dst_width, dst_height) ||
      !DimgRectInside(sx, sy, sw, sh, src_width, src_height))
    dw = dh = sw = sh = 0;
}

bool DimgRectInside(std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h, std::uint32_t iw,
                    std::uint32_t ih) {
  if (w == 0 || h == 0) return true;
  return x >= 0 && y >= 0 && std::int64_t{x} + w <= iw && std::int64_t{y} + h <= ih;
}
