// Integer arithmetic of the software rasterizer behind the Direct3D stand-in: snapping, edge
// functions with the top-left rule, fixed-point attribute gradients, texel decoding, filtering,
// the two-stage MODULATE combiner, the alpha test and the blend factors. Everything is exact
// integer arithmetic, so that a span walker stepping along a row gives the same bits as a
// direct evaluation of each pixel; the tests hold a per-pixel reference built on these functions.
#pragma once

#include <cmath>
#include <cstdint>

namespace orvane::raster {

// ---- Positions: 1/16 pixel, pixel centres at integer coordinates.
inline constexpr int kSubBits = 4;
inline constexpr int32_t kSubScale = 1 << kSubBits;
// Vertices beyond +-2^20 pixels (or not finite) make a triangle that is skipped.
inline constexpr double kMaxCoordPx = 1048576.0;

// Snaps a pixel coordinate to 1/16 pixel, rounding half up. False when the value is not finite
// or lies beyond +-2^20 pixels.
inline bool SnapPosition(float v, int32_t* out) {
  double d = static_cast<double>(v);
  if (!std::isfinite(d) || d > kMaxCoordPx || d < -kMaxCoordPx) return false;
  *out = static_cast<int32_t>(std::floor(d * kSubScale + 0.5));
  return true;
}

// ---- Attributes: each vertex holds an integer (a colour channel 0..255, or a texture coordinate
// in texels x 256). Across a triangle an attribute is a + gx*(X - X0) + gy*(Y - Y0) in units of
// 2^-kAttrFrac, X and Y in 1/16 pixel; gx and gy are rounded once per triangle.
inline constexpr int kAttrFrac = 16;
// Texture coordinates are clamped to +-2^24 (65536 texels) before interpolation.
inline constexpr int32_t kMaxTexCoord = 1 << 24;
// Gradients are kept within +-2^36 so that no sum below leaves 64 bits.
inline constexpr int64_t kMaxGradient = int64_t{1} << 36;

// A normalised texture coordinate as texels x 256, rounded half up and clamped. False when not
// finite.
inline bool TexCoordFixed(float t, uint32_t size, int32_t* out) {
  double d = static_cast<double>(t);
  if (!std::isfinite(d)) return false;
  double v = std::floor(d * static_cast<double>(size) * 256.0 + 0.5);
  if (v > kMaxTexCoord) v = kMaxTexCoord;
  if (v < -kMaxTexCoord) v = -kMaxTexCoord;
  *out = static_cast<int32_t>(v);
  return true;
}

// Rounds n / d to the nearest integer, halves away from zero; d > 0.
inline __int128 RoundDiv(__int128 n, __int128 d) {
  return n >= 0 ? (n + d / 2) / d : -((-n + d / 2) / d);
}

// One snapped vertex of a triangle.
struct SnapVertex {
  int32_t x, y;  // 1/16 pixel
};

// Twice the signed area in 1/256 pixel^2; positive when v0, v1, v2 run clockwise on the screen
// (y downwards).
inline int64_t Area2(const SnapVertex& v0, const SnapVertex& v1, const SnapVertex& v2) {
  return int64_t{v1.x - v0.x} * (v2.y - v0.y) - int64_t{v2.x - v0.x} * (v1.y - v0.y);
}

// Edge function of the directed edge a->b: E(X, Y) = ex*X + ey*Y + c, >= 0 on the inside of a
// triangle with positive Area2. bias is 0 for a top or left edge (points on it belong to the
// triangle) and -1 otherwise, so the test is E + bias >= 0 and a shared edge is hit once.
struct Edge {
  int64_t ex, ey, c;
  int64_t bias;
};

inline Edge MakeEdge(const SnapVertex& a, const SnapVertex& b) {
  Edge e;
  int64_t dx = int64_t{b.x} - a.x, dy = int64_t{b.y} - a.y;
  e.ex = -dy;
  e.ey = dx;
  e.c = dy * a.x - dx * a.y;
  bool top = dy == 0 && dx > 0;
  bool left = dy < 0;
  e.bias = (top || left) ? 0 : -1;
  return e;
}

inline bool EdgeInside(const Edge& e, int64_t X, int64_t Y) {
  return e.ex * X + e.ey * Y + e.c + e.bias >= 0;
}

// The plane of one attribute over a triangle: value(X, Y) = base + gx*(X - x0) + gy*(Y - y0),
// in units of 2^-kAttrFrac.
struct Plane {
  int64_t base, gx, gy;
  int32_t x0, y0;
};

inline int64_t ClampGradient(__int128 g) {
  if (g > kMaxGradient) return kMaxGradient;
  if (g < -kMaxGradient) return -kMaxGradient;
  return static_cast<int64_t>(g);
}

// The plane through three vertex values; area2 > 0.
inline Plane MakePlane(const SnapVertex& v0, const SnapVertex& v1, const SnapVertex& v2, int64_t area2,
                       int32_t a0, int32_t a1, int32_t a2) {
  Plane p;
  __int128 da1 = int64_t{a1} - a0, da2 = int64_t{a2} - a0;
  __int128 dx1 = int64_t{v1.x} - v0.x, dy1 = int64_t{v1.y} - v0.y;
  __int128 dx2 = int64_t{v2.x} - v0.x, dy2 = int64_t{v2.y} - v0.y;
  __int128 nx = (da1 * dy2 - da2 * dy1) * (__int128{1} << kAttrFrac);
  __int128 ny = (da2 * dx1 - da1 * dx2) * (__int128{1} << kAttrFrac);
  p.gx = ClampGradient(RoundDiv(nx, area2));
  p.gy = ClampGradient(RoundDiv(ny, area2));
  p.base = int64_t{a0} << kAttrFrac;
  p.x0 = v0.x;
  p.y0 = v0.y;
  return p;
}

// The raw plane value at (X, Y) in 1/16 pixel.
inline int64_t PlaneAt(const Plane& p, int64_t X, int64_t Y) {
  return p.base + p.gx * (X - p.x0) + p.gy * (Y - p.y0);
}

// A raw plane value as an integer attribute, rounded half up.
inline int64_t PlaneValue(int64_t raw) {
  return (raw + (int64_t{1} << (kAttrFrac - 1))) >> kAttrFrac;
}

inline int32_t Clamp255(int64_t v) {
  return v < 0 ? 0 : v > 255 ? 255 : static_cast<int32_t>(v);
}
inline int32_t ClampTex(int64_t v) {
  return v < -kMaxTexCoord ? -kMaxTexCoord : v > kMaxTexCoord ? kMaxTexCoord : static_cast<int32_t>(v);
}

// ---- Pixels.
struct Rgba {
  int32_t r, g, b, a;  // 0..255 each
};

// Pixel formats the rasterizer reads (textures) and writes (targets).
enum class PixelKind : uint8_t { kA8R8G8B8, kX8R8G8B8, kA4R4G4B4, kR5G6B5, kUnsupported };

inline Rgba FromArgb(uint32_t c) {
  return Rgba{static_cast<int32_t>((c >> 16) & 255), static_cast<int32_t>((c >> 8) & 255),
              static_cast<int32_t>(c & 255), static_cast<int32_t>(c >> 24)};
}

// Widening rules: 4-bit channels times 17, 5 and 6-bit channels by bit replication; formats
// without alpha read 255.
inline Rgba Decode32(uint32_t p, bool alpha) {
  Rgba c = FromArgb(p);
  if (!alpha) c.a = 255;
  return c;
}
inline Rgba Decode4444(uint16_t p) {
  return Rgba{((p >> 8) & 15) * 17, ((p >> 4) & 15) * 17, (p & 15) * 17, ((p >> 12) & 15) * 17};
}
inline Rgba Decode565(uint16_t p) {
  int32_t r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
  return Rgba{(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2), 255};
}
// Narrowing to R5G6B5 truncates.
inline uint16_t Encode565(const Rgba& c) {
  return static_cast<uint16_t>(((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3));
}
// X8R8G8B8 targets keep 0 in the unused byte.
inline uint32_t EncodeX888(const Rgba& c) {
  return (static_cast<uint32_t>(c.r) << 16) | (static_cast<uint32_t>(c.g) << 8) | static_cast<uint32_t>(c.b);
}

// Reads texel (x, y) of a texture; the caller has clamped x and y into the texture.
inline Rgba ReadTexel(const uint8_t* bits, int64_t pitch, PixelKind kind, int32_t x, int32_t y) {
  const uint8_t* row = bits + pitch * y;
  switch (kind) {
    case PixelKind::kA8R8G8B8:
      return Decode32(reinterpret_cast<const uint32_t*>(row)[x], true);
    case PixelKind::kX8R8G8B8:
      return Decode32(reinterpret_cast<const uint32_t*>(row)[x], false);
    case PixelKind::kA4R4G4B4:
      return Decode4444(reinterpret_cast<const uint16_t*>(row)[x]);
    case PixelKind::kR5G6B5:
      return Decode565(reinterpret_cast<const uint16_t*>(row)[x]);
    default:
      return Rgba{255, 255, 255, 255};
  }
}

// A texture as the sampler sees it.
struct TextureView {
  const uint8_t* bits;
  int64_t pitch;
  int32_t width, height;
  PixelKind kind;
};

inline int32_t ClampIndex(int64_t i, int32_t size) {
  return i < 0 ? 0 : i >= size ? size - 1 : static_cast<int32_t>(i);
}

// Point sampling at (u, v) in texels x 256: the texel floor(u), floor(v), clamped (CLAMP).
inline Rgba SamplePoint(const TextureView& t, int32_t u, int32_t v) {
  return ReadTexel(t.bits, t.pitch, t.kind, ClampIndex(u >> 8, t.width), ClampIndex(v >> 8, t.height));
}

// Linear sampling: s = u - 0.5 texel, weights in 1/256, the four texels clamped; one rounding.
inline Rgba SampleLinear(const TextureView& t, int32_t u, int32_t v) {
  int32_t su = u - 128, sv = v - 128;
  int32_t fu = su & 255, fv = sv & 255;
  int32_t x0 = su >> 8, y0 = sv >> 8;
  int32_t xa = ClampIndex(x0, t.width), xb = ClampIndex(int64_t{x0} + 1, t.width);
  int32_t ya = ClampIndex(y0, t.height), yb = ClampIndex(int64_t{y0} + 1, t.height);
  Rgba c00 = ReadTexel(t.bits, t.pitch, t.kind, xa, ya), c10 = ReadTexel(t.bits, t.pitch, t.kind, xb, ya);
  Rgba c01 = ReadTexel(t.bits, t.pitch, t.kind, xa, yb), c11 = ReadTexel(t.bits, t.pitch, t.kind, xb, yb);
  int32_t w00 = (256 - fu) * (256 - fv), w10 = fu * (256 - fv), w01 = (256 - fu) * fv, w11 = fu * fv;
  auto mix = [&](int32_t a, int32_t b, int32_t c, int32_t d) {
    return (a * w00 + b * w10 + c * w01 + d * w11 + 32768) >> 16;
  };
  return Rgba{mix(c00.r, c10.r, c01.r, c11.r), mix(c00.g, c10.g, c01.g, c11.g),
              mix(c00.b, c10.b, c01.b, c11.b), mix(c00.a, c10.a, c01.a, c11.a)};
}

// MODULATE: round(x * y / 255). x * y / 255 is never exactly half way, so no tie rule is needed.
inline int32_t Mul255(int32_t x, int32_t y) {
  return (x * y + 127) / 255;
}
inline Rgba Modulate(const Rgba& a, const Rgba& b) {
  return Rgba{Mul255(a.r, b.r), Mul255(a.g, b.g), Mul255(a.b, b.b), Mul255(a.a, b.a)};
}

// Alpha test GREATER: the fragment stays when its alpha is greater than the reference.
inline bool AlphaPasses(int32_t alpha, int32_t ref) {
  return alpha > ref;
}

// ---- Blending: result = round((src * fs + dst * fd) / 255) per channel, saturated at 255.
// Factor codes are the Direct3D blend values that the sprite renderer uses.
enum BlendFactor : uint32_t {
  kBlendZero = 1,
  kBlendOne = 2,
  kBlendSrcAlpha = 5,
  kBlendInvSrcAlpha = 6,
  kBlendDestColor = 9,
  kBlendInvDestColor = 10,
};

inline bool IsSupportedFactor(uint32_t f) {
  return f == kBlendZero || f == kBlendOne || f == kBlendSrcAlpha || f == kBlendInvSrcAlpha ||
         f == kBlendDestColor || f == kBlendInvDestColor;
}

// The factor for one channel: s_a is the source alpha, d the destination's value of that channel.
inline int32_t FactorValue(uint32_t f, int32_t s_a, int32_t d) {
  switch (f) {
    case kBlendZero:
      return 0;
    case kBlendOne:
      return 255;
    case kBlendSrcAlpha:
      return s_a;
    case kBlendInvSrcAlpha:
      return 255 - s_a;
    case kBlendDestColor:
      return d;
    case kBlendInvDestColor:
      return 255 - d;
    default:
      return 0;
  }
}

inline int32_t BlendChannel(int32_t s, int32_t d, int32_t s_a, uint32_t fs, uint32_t fd) {
  int32_t n = s * FactorValue(fs, s_a, d) + d * FactorValue(fd, s_a, d);
  int32_t r = (n + 127) / 255;
  return r > 255 ? 255 : r;
}

inline Rgba Blend(const Rgba& s, const Rgba& d, uint32_t fs, uint32_t fd) {
  return Rgba{BlendChannel(s.r, d.r, s.a, fs, fd), BlendChannel(s.g, d.g, s.a, fs, fd),
              BlendChannel(s.b, d.b, s.a, fs, fd), 255};
}

}  // namespace orvane::raster
