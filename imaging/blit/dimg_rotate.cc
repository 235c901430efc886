// Rotate-and-scale blit: the covering box from the forward angle, the walk back into the source
// with 24.8 fixed-point steps from the backward angle.
#include "imaging/blit/dimg_rotate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/dimage.h"
#include "imaging/dimg_tables.h"

namespace {

// Far beyond any box an image can have, small enough that sums of a few never overflow 64 bits.
constexpr std::int64_t kLimit = std::int64_t{1} << 40;

// Nearest integer, halves to even, clamped to +-kLimit.
std::int64_t Round(float v) {
  const float r = std::nearbyint(v);
  if (!(r > -static_cast<float>(kLimit))) return -kLimit;
  if (!(r < static_cast<float>(kLimit))) return kLimit;
  return static_cast<std::int64_t>(r);
}

// Cuts (x, y, w, h) to a width x height image: a negative origin moves to 0 and shortens the size.
void Clip(std::int64_t& x, std::int64_t& y, std::int64_t& w, std::int64_t& h, std::int64_t width,
          std::int64_t height) {
  if (x < 0) w = std::max<std::int64_t>(w + x, 0), x = 0;
  if (y < 0) h = std::max<std::int64_t>(h + y, 0), y = 0;
  if (x + w > width) w = std::max<std::int64_t>(width - x, 0);
  if (y + h > height) h = std::max<std::int64_t>(height - y, 0);
}

}  // namespace

void DimgRotate(DImage& dst, std::int32_t dx, std::int32_t dy, const DImage& src, std::int32_t cx,
                std::int32_t cy, float angle, float scale) {
  if (std::isnan(scale)) return;
  scale = std::clamp(scale, 0.25f, 4.0f);
  const float k = (1.0f / scale) * 256.0f;
  const std::int64_t sw = src.GetWidth(), sh = src.GetHeight();
  if (sw == 0 || sh == 0 || dst.GetWidth() == 0 || dst.GetHeight() == 0) return;

  // The box the turned and scaled source covers, from its four corners.
  const std::uint32_t fwd = DimgAngleStep(angle);
  const float c = DimgSinTable[fwd + 1024], s = DimgSinTable[fwd];
  const std::int64_t xs[2] = {-std::int64_t{cx}, sw - 1 - cx}, ys[2] = {-std::int64_t{cy}, sh - 1 - cy};
  std::int64_t xmin = kLimit, xmax = -kLimit, ymin = kLimit, ymax = -kLimit;
  for (std::int64_t x : xs)
    for (std::int64_t y : ys) {
      const float fx = static_cast<float>(x), fy = static_cast<float>(y);
      const std::int64_t tx = Round(fx * c - fy * s), ty = Round(fx * s + fy * c);
      xmin = std::min(xmin, tx), xmax = std::max(xmax, tx);
      ymin = std::min(ymin, ty), ymax = std::max(ymax, ty);
    }
  xmin = Round(static_cast<float>(xmin) * scale), xmax = Round(static_cast<float>(xmax) * scale);
  ymin = Round(static_cast<float>(ymin) * scale), ymax = Round(static_cast<float>(ymax) * scale);
  std::int64_t px = dx + xmin, py = dy + ymin, w = xmax - xmin + 1, h = ymax - ymin + 1;
  Clip(px, py, w, h, dst.GetWidth(), dst.GetHeight());
  if (w <= 0 || h <= 0) return;

  // Source steps per destination pixel from the backward angle, 24.8 fixed point.
  const std::uint32_t back = DimgAngleStep(-angle);
  const std::int64_t b = Round(DimgSinTable[back] * k), a = Round(DimgSinTable[back + 1024] * k);
  const std::int64_t x0 = px - dx, y0 = py - dy;
  std::int64_t u0 = x0 * a - y0 * b + 256 * std::int64_t{cx};
  std::int64_t v0 = x0 * b + y0 * a + 256 * std::int64_t{cy};

  std::uint8_t* row = dst.GetPixelPointer(static_cast<std::int32_t>(px), static_cast<std::int32_t>(py));
  for (std::int64_t y = 0; y < h; ++y) {
    std::int64_t u = u0, v = v0;
    std::uint8_t* p = row;
    for (std::int64_t x = 0; x < w; ++x, p += 2, u += a, v += b) {
      const std::int64_t sx = u >> 8, sy = v >> 8;
      if (sx >= 0 && sx < sw && sy >= 0 && sy < sh)
        std::memcpy(p, src.GetPixelPointer(static_cast<std::int32_t>(sx), static_cast<std::int32_t>(sy)), 2);
    }
    u0 -= b;
    v0 += a;
    if (y + 1 < h) row = dst.NextLine(row);
  }
}
