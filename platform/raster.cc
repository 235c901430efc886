// The software rasterizer: triangle setup, span walking and the per-fragment pipeline.
#include "platform/raster.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace orvane::raster {
namespace {

inline int64_t FloorDiv(int64_t n, int64_t d) {  // d > 0
  int64_t q = n / d;
  return (n % d != 0 && n < 0) ? q - 1 : q;
}
inline int64_t CeilDiv(int64_t n, int64_t d) {
  return -FloorDiv(-n, d);
}

struct Setup {
  Edge e[3];
  // Edges parallel to the y axis (ey == 0) bound every row alike: their bound is found once.
  int64_t row_lo, row_hi;  // the bounds of those edges and the bounding box
  bool empty_rows;         // a horizontal edge excludes every row: nothing to draw
  int edge_count;          // edges left to test per row (indices into e)
  int rows_edges[3];
  Plane col[4];                        // r, g, b, a
  Plane tc[4];                         // u0, v0, u1, v1
  int32_t min_x, max_x, min_y, max_y;  // pixel bounds, clipped to the target
};

// Builds the edges and planes of one triangle; false when it is skipped.
bool SetUp(const RasterTarget& t, const RasterState& s, const RasterVertex* a, const RasterVertex* b,
           const RasterVertex* c, Setup* out) {
  const RasterVertex* v[3] = {a, b, c};
  SnapVertex sv[3];
  for (int i = 0; i < 3; ++i)
    if (!SnapPosition(v[i]->x, &sv[i].x) || !SnapPosition(v[i]->y, &sv[i].y)) return false;
  int64_t area = Area2(sv[0], sv[1], sv[2]);
  if (area == 0) return false;
  if (area < 0) {
    std::swap(v[1], v[2]);
    std::swap(sv[1], sv[2]);
    area = -area;
  }
  int32_t tcv[3][4] = {};
  for (int i = 0; i < 3; ++i) {
    const float uv[4] = {v[i]->u0, v[i]->v0, v[i]->u1, v[i]->v1};
    for (int k = 0; k < 4; ++k) {
      const TextureView& tv = s.tex[k / 2];
      if (!tv.bits) continue;
      uint32_t size = static_cast<uint32_t>((k & 1) ? tv.height : tv.width);
      if (!TexCoordFixed(uv[k], size, &tcv[i][k])) return false;
    }
  }
  int32_t lo_x = std::min({sv[0].x, sv[1].x, sv[2].x}), hi_x = std::max({sv[0].x, sv[1].x, sv[2].x});
  int32_t lo_y = std::min({sv[0].y, sv[1].y, sv[2].y}), hi_y = std::max({sv[0].y, sv[1].y, sv[2].y});
  int64_t px0 = std::max<int64_t>(0, CeilDiv(lo_x, kSubScale)),
          px1 = std::min<int64_t>(t.width - 1, FloorDiv(hi_x, kSubScale));
  int64_t py0 = std::max<int64_t>(0, CeilDiv(lo_y, kSubScale)),
          py1 = std::min<int64_t>(t.height - 1, FloorDiv(hi_y, kSubScale));
  if (px0 > px1 || py0 > py1) return false;
  out->min_x = static_cast<int32_t>(px0);
  out->max_x = static_cast<int32_t>(px1);
  out->min_y = static_cast<int32_t>(py0);
  out->max_y = static_cast<int32_t>(py1);
  out->e[0] = MakeEdge(sv[0], sv[1]);
  out->e[1] = MakeEdge(sv[1], sv[2]);
  out->e[2] = MakeEdge(sv[2], sv[0]);
  out->row_lo = out->min_x;
  out->row_hi = out->max_x;
  out->empty_rows = false;
  out->edge_count = 0;
  for (int i = 0; i < 3; ++i) {
    const Edge& e = out->e[i];
    if (e.ey != 0) {
      out->rows_edges[out->edge_count++] = i;
      continue;
    }
    int64_t k = e.c + e.bias, step = e.ex * kSubScale;
    if (step > 0)
      out->row_lo = std::max(out->row_lo, CeilDiv(-k, step));
    else if (step < 0)
      out->row_hi = std::min(out->row_hi, FloorDiv(k, -step));
    else if (k < 0)
      out->empty_rows = true;
  }
  for (int k = 0; k < 4; ++k) {
    int shift = k == 0 ? 16 : k == 1 ? 8 : k == 2 ? 0 : 24;
    int32_t c0 = (v[0]->diffuse >> shift) & 255, c1 = (v[1]->diffuse >> shift) & 255,
            c2 = (v[2]->diffuse >> shift) & 255;
    out->col[k] = MakePlane(sv[0], sv[1], sv[2], area, c0, c1, c2);
    out->tc[k] = MakePlane(sv[0], sv[1], sv[2], area, tcv[0][k], tcv[1][k], tcv[2][k]);
  }
  return true;
}

// Walks the rows of a triangle: for each edge not parallel to the y axis the row's bound is
// floor(k / d) for k = ey * 16 * py + c + bias, kept as quotient and remainder and stepped from
// row to row without dividing (a lower bound is its negation: ceil(-k / d) = -floor(k / d)).
class RowWalker {
 public:
  RowWalker(const Setup& st, int32_t py) : st_(st) {
    for (int i = 0; i < st.edge_count; ++i) {
      const Edge& e = st.e[st.rows_edges[i]];
      Step& s = steps_[n_++];
      int64_t k = e.ey * (int64_t{py} * kSubScale) + e.c + e.bias, b = e.ey * kSubScale;
      int64_t step = e.ex * kSubScale;
      s.flat = step == 0;
      s.lower = step > 0;
      if (s.flat) {
        s.q = k;  // the row is inside while k >= 0
        s.dq = b;
        continue;
      }
      s.d = step > 0 ? step : -step;
      s.q = FloorDiv(k, s.d);
      s.r = k - s.q * s.d;
      s.dq = FloorDiv(b, s.d);
      s.dr = b - s.dq * s.d;
    }
  }
  // The pixel span [*x0, *x1] of the current row; false when empty.
  bool Span(int32_t* x0, int32_t* x1) const {
    if (st_.empty_rows) return false;
    int64_t lo = st_.row_lo, hi = st_.row_hi;
    for (int i = 0; i < n_; ++i) {
      const Step& s = steps_[i];
      if (s.flat) {
        if (s.q < 0) return false;
      } else if (s.lower) {
        lo = std::max(lo, -s.q);
      } else {
        hi = std::min(hi, s.q);
      }
    }
    if (lo > hi) return false;
    *x0 = static_cast<int32_t>(lo);
    *x1 = static_cast<int32_t>(hi);
    return true;
  }
  void Next() {
    for (int i = 0; i < n_; ++i) {
      Step& s = steps_[i];
      s.q += s.dq;
      if (s.flat) continue;
      s.r += s.dr;
      if (s.r >= s.d) {
        s.r -= s.d;
        ++s.q;
      }
    }
  }

 private:
  struct Step {
    int64_t q = 0, r = 0, d = 1, dq = 0, dr = 0;
    bool lower = false, flat = false;
  };
  const Setup& st_;
  Step steps_[3];
  int n_ = 0;
};

// ---- The 1:1 fast path: a span whose texture coordinates advance exactly one texel per pixel
// along the row, with the sample landing on texel centres (or POINT filtering), under a constant
// white diffuse colour and stage 0 only. Then the fragment is the texel itself (LINEAR weights
// 256 x 256 on one texel, MODULATE by 255 changes nothing), and the span is a row of texels
// blended into the target. Equal to the generic path bit for bit.
enum class BlendKind { kReplace, kAlpha, kAdd, kPremultiplied, kGeneric };

BlendKind KindOf(const RasterState& s) {
  if (!s.blend) return BlendKind::kReplace;
  if (s.src_blend == kBlendSrcAlpha && s.dst_blend == kBlendInvSrcAlpha) return BlendKind::kAlpha;
  if (s.src_blend == kBlendSrcAlpha && s.dst_blend == kBlendOne) return BlendKind::kAdd;
  if (s.src_blend == kBlendOne && s.dst_blend == kBlendInvSrcAlpha) return BlendKind::kPremultiplied;
  if (s.src_blend == kBlendOne && s.dst_blend == kBlendZero) return BlendKind::kReplace;
  return BlendKind::kGeneric;
}

inline uint32_t Div255(uint32_t n) {
  return (n + 127) / 255;
}

// Alpha blending of red and blue in two 16-bit lanes of one word: each lane's sum stays below
// 65153, where (y + (y >> 8) + 1) >> 8 is y / 255 exactly.
inline uint32_t BlendAlphaLanes(uint32_t src, uint32_t a, uint32_t dst) {
  if (a == 255) return src;
  if (a == 0) return dst & 0xFFFFFF;
  uint32_t ia = 255 - a;
  uint32_t rb = (src & 0xFF00FF) * a + (dst & 0xFF00FF) * ia + 0x7F007F;
  rb = ((rb + ((rb >> 8) & 0xFF00FF) + 0x10001) >> 8) & 0xFF00FF;
  uint32_t g = ((src >> 8) & 0xFF) * a + ((dst >> 8) & 0xFF) * ia + 0x7F;
  g = ((g + (g >> 8) + 1) >> 8) & 0xFF;
  return rb | (g << 8);
}

template <BlendKind K>
inline uint32_t BlendX888(uint32_t src, uint32_t a, uint32_t dst, const RasterState& s) {
  if constexpr (K == BlendKind::kAlpha) return BlendAlphaLanes(src, a, dst);
  uint32_t out = 0;
  for (int sh = 0; sh <= 16; sh += 8) {
    uint32_t sc = (src >> sh) & 255, dc = (dst >> sh) & 255, r;
    if constexpr (K == BlendKind::kReplace) {
      r = sc;
    } else if constexpr (K == BlendKind::kAlpha) {
      r = Div255(sc * a + dc * (255 - a));
    } else if constexpr (K == BlendKind::kAdd) {
      r = std::min<uint32_t>(255, Div255(sc * a + dc * 255));
    } else if constexpr (K == BlendKind::kPremultiplied) {
      r = std::min<uint32_t>(255, Div255(sc * 255 + dc * (255 - a)));
    } else {
      r = static_cast<uint32_t>(BlendChannel(static_cast<int32_t>(sc), static_cast<int32_t>(dc),
                                             static_cast<int32_t>(a), s.src_blend, s.dst_blend));
    }
    out |= r << sh;
  }
  return out;
}

#ifdef __SSE2__
// kAlpha without the alpha test, four pixels at a time in 16-bit lanes: the same sums and the
// same exact division by 255 as BlendAlphaLanes.
int32_t AlphaSpanSse2(const uint32_t* texels, bool alpha, uint32_t* out, int32_t n) {
  const __m128i zero = _mm_setzero_si128(), c127 = _mm_set1_epi16(127);
  const __m128i c1 = _mm_set1_epi16(1), opaque = _mm_set1_epi32(alpha ? 0 : static_cast<int>(0xFF000000u));
  const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
  auto half = [&](__m128i sv, __m128i dv) {
    // s * a + d * (255 - a) as d * 255 + (s - d) * a: the lanes wrap modulo 2^16, and the true
    // sum (at most 65152 with the 127 added) is what remains.
    __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(sv, 0xFF), 0xFF);
    __m128i d255 = _mm_sub_epi16(_mm_slli_epi16(dv, 8), dv);
    __m128i x = _mm_add_epi16(d255, _mm_mullo_epi16(_mm_sub_epi16(sv, dv), a));
    x = _mm_add_epi16(x, c127);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), c1), 8);
  };
  int32_t k = 0;
  for (; k + 4 <= n; k += 4) {
    __m128i sv = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(texels + k)), opaque);
    __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out + k));
    __m128i lo = half(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero));
    __m128i hi = half(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_and_si128(_mm_packus_epi16(lo, hi), rgb));
  }
  return k;
}
#endif

template <BlendKind K>
void TexelSpan(const RasterState& s, const uint32_t* texels, bool alpha, uint32_t* out, int32_t n) {
  int32_t k = 0;
#ifdef __SSE2__
  if constexpr (K == BlendKind::kAlpha) {
    if (!s.alpha_test) k = AlphaSpanSse2(texels, alpha, out, n);
  }
#endif
  for (; k < n; ++k) {
    uint32_t t = texels[k];
    uint32_t a = alpha ? t >> 24 : 255;
    if (s.alpha_test && !AlphaPasses(static_cast<int32_t>(a), s.alpha_ref)) continue;
    out[k] = BlendX888<K>(t & 0xFFFFFF, a, out[k], s);
  }
}

// The affine path: white diffuse, stage 0 only, a 32-bit texture and an X8R8G8B8 target, any
// texture-coordinate gradients (scaled or rotated sprites). The same sampling and blending
// arithmetic as the generic path, with the texel reads and the blend specialised.
inline uint32_t Texel32(const TextureView& t, int32_t x, int32_t y, bool alpha) {
  uint32_t p = reinterpret_cast<const uint32_t*>(t.bits + t.pitch * y)[x];
  return alpha ? p : (p | 0xFF000000u);
}

inline uint32_t SampleLinear32(const TextureView& t, int32_t u, int32_t v, bool alpha) {
  int32_t su = u - 128, sv = v - 128;
  int32_t fu = su & 255, fv = sv & 255;
  int32_t x0 = su >> 8, y0 = sv >> 8;
  int32_t xa = ClampIndex(x0, t.width), xb = ClampIndex(int64_t{x0} + 1, t.width);
  int32_t ya = ClampIndex(y0, t.height), yb = ClampIndex(int64_t{y0} + 1, t.height);
  uint32_t c00 = Texel32(t, xa, ya, alpha), c10 = Texel32(t, xb, ya, alpha);
  uint32_t c01 = Texel32(t, xa, yb, alpha), c11 = Texel32(t, xb, yb, alpha);
  uint32_t w00 = (256 - fu) * (256 - fv), w10 = fu * (256 - fv), w01 = (256 - fu) * fv, w11 = fu * fv;
  uint32_t out = 0;
  for (int sh = 0; sh < 32; sh += 8) {
    uint32_t m = ((c00 >> sh) & 255) * w00 + ((c10 >> sh) & 255) * w10 + ((c01 >> sh) & 255) * w01 +
                 ((c11 >> sh) & 255) * w11 + 32768;
    out |= (m >> 16) << sh;
  }
  return out;
}

template <BlendKind K>
void AffineSpan(const RasterState& s, int64_t ru, int64_t rv, int64_t du, int64_t dv, uint32_t* out,
                int32_t n) {
  const TextureView& t = s.tex[0];
  const bool alpha = t.kind == PixelKind::kA8R8G8B8;
  for (int32_t k = 0; k < n; ++k, ru += du, rv += dv) {
    int32_t u = ClampTex(PlaneValue(ru)), v = ClampTex(PlaneValue(rv));
    uint32_t p = s.linear[0] ? SampleLinear32(t, u, v, alpha)
                             : Texel32(t, ClampIndex(u >> 8, t.width), ClampIndex(v >> 8, t.height), alpha);
    uint32_t a = p >> 24;
    if (s.alpha_test && !AlphaPasses(static_cast<int32_t>(a), s.alpha_ref)) continue;
    out[k] = BlendX888<K>(p & 0xFFFFFF, a, out[k], s);
  }
}

inline Rgba Sample(const TextureView& t, bool linear, int32_t u, int32_t v) {
  return linear ? SampleLinear(t, u, v) : SamplePoint(t, u, v);
}

}  // namespace

Rgba ShadeFragment(const RasterState& s, const Rgba& diffuse, int32_t u0, int32_t v0, int32_t u1,
                   int32_t v1) {
  Rgba c = diffuse;
  if (!s.stage_enabled[0]) return c;
  if (s.tex[0].bits) c = Modulate(Sample(s.tex[0], s.linear[0], u0, v0), c);
  if (!s.stage_enabled[1]) return c;
  if (s.tex[1].bits) c = Modulate(Sample(s.tex[1], s.linear[1], u1, v1), c);
  return c;
}

Rgba ReadTarget(const RasterTarget& t, int32_t x, int32_t y) {
  const uint8_t* row = t.bits + t.pitch * y;
  if (t.kind == PixelKind::kR5G6B5) return Decode565(reinterpret_cast<const uint16_t*>(row)[x]);
  return Decode32(reinterpret_cast<const uint32_t*>(row)[x], false);
}

void WriteTarget(const RasterTarget& t, int32_t x, int32_t y, const Rgba& c) {
  uint8_t* row = t.bits + t.pitch * y;
  if (t.kind == PixelKind::kR5G6B5)
    reinterpret_cast<uint16_t*>(row)[x] = Encode565(c);
  else
    reinterpret_cast<uint32_t*>(row)[x] = EncodeX888(c);
}

void DrawTriangles(const RasterTarget& target, const RasterState& state, const RasterVertex* vertices,
                   uint32_t vertex_count, const uint16_t* indices, uint32_t index_count) {
  if (!target.bits || target.width <= 0 || target.height <= 0) return;
  if (target.kind != PixelKind::kX8R8G8B8 && target.kind != PixelKind::kA8R8G8B8 &&
      target.kind != PixelKind::kR5G6B5)
    return;
  RasterState s = state;
  for (auto& t : s.tex)
    if (t.bits && (t.width <= 0 || t.height <= 0 || t.kind == PixelKind::kUnsupported)) t.bits = nullptr;
  bool tex0 = s.tex[0].bits && s.stage_enabled[0];
  bool tex1 = s.tex[1].bits && s.stage_enabled[0] && s.stage_enabled[1];
  for (uint32_t i = 0; i + 3 <= index_count; i += 3) {
    uint16_t ia = indices[i], ib = indices[i + 1], ic = indices[i + 2];
    if (ia >= vertex_count || ib >= vertex_count || ic >= vertex_count) continue;
    Setup st;
    if (!SetUp(target, s, &vertices[ia], &vertices[ib], &vertices[ic], &st)) continue;
    // The 1:1 fast path's per-triangle conditions (see TexelSpan).
    bool white = true;
    for (int k = 0; k < 4; ++k)
      white =
          white && st.col[k].gx == 0 && st.col[k].gy == 0 && st.col[k].base == (int64_t{255} << kAttrFrac);
    bool affine = white && tex0 && !tex1 && target.kind != PixelKind::kR5G6B5 &&
                  (s.tex[0].kind == PixelKind::kA8R8G8B8 || s.tex[0].kind == PixelKind::kX8R8G8B8);
    bool fast = affine && st.tc[0].gx == (int64_t{256} << kAttrFrac) / kSubScale && st.tc[1].gx == 0;
    BlendKind blend_kind = KindOf(s);
    RowWalker rows(st, st.min_y);
    for (int32_t py = st.min_y; py <= st.max_y; ++py, rows.Next()) {
      int32_t x0, x1;
      if (!rows.Span(&x0, &x1)) continue;
      int64_t X = int64_t{x0} * kSubScale, Y = int64_t{py} * kSubScale;
      if (fast) {
        int64_t u = PlaneValue(PlaneAt(st.tc[0], X, Y)), v = PlaneValue(PlaneAt(st.tc[1], X, Y));
        bool centred = !s.linear[0] || (((u - 128) & 255) == 0 && ((v - 128) & 255) == 0);
        int64_t tx = s.linear[0] ? (u - 128) >> 8 : u >> 8, ty = s.linear[0] ? (v - 128) >> 8 : v >> 8;
        int32_t n = x1 - x0 + 1;
        if (centred && u >= -kMaxTexCoord && u + int64_t{256} * n <= kMaxTexCoord && tx >= 0 &&
            tx + n <= s.tex[0].width && ty >= 0 && ty < s.tex[0].height) {
          const uint32_t* texels =
              reinterpret_cast<const uint32_t*>(s.tex[0].bits + s.tex[0].pitch * ty) + tx;
          uint32_t* out = reinterpret_cast<uint32_t*>(target.bits + target.pitch * py) + x0;
          bool alpha = s.tex[0].kind == PixelKind::kA8R8G8B8;
          switch (blend_kind) {
            case BlendKind::kReplace:
              TexelSpan<BlendKind::kReplace>(s, texels, alpha, out, n);
              break;
            case BlendKind::kAlpha:
              TexelSpan<BlendKind::kAlpha>(s, texels, alpha, out, n);
              break;
            case BlendKind::kAdd:
              TexelSpan<BlendKind::kAdd>(s, texels, alpha, out, n);
              break;
            case BlendKind::kPremultiplied:
              TexelSpan<BlendKind::kPremultiplied>(s, texels, alpha, out, n);
              break;
            case BlendKind::kGeneric:
              TexelSpan<BlendKind::kGeneric>(s, texels, alpha, out, n);
              break;
          }
          continue;
        }
      }
      if (affine) {
        int64_t ru = PlaneAt(st.tc[0], X, Y), rv = PlaneAt(st.tc[1], X, Y);
        int64_t du = st.tc[0].gx * kSubScale, dv = st.tc[1].gx * kSubScale;
        uint32_t* out = reinterpret_cast<uint32_t*>(target.bits + target.pitch * py) + x0;
        int32_t n = x1 - x0 + 1;
        switch (blend_kind) {
          case BlendKind::kReplace:
            AffineSpan<BlendKind::kReplace>(s, ru, rv, du, dv, out, n);
            break;
          case BlendKind::kAlpha:
            AffineSpan<BlendKind::kAlpha>(s, ru, rv, du, dv, out, n);
            break;
          case BlendKind::kAdd:
            AffineSpan<BlendKind::kAdd>(s, ru, rv, du, dv, out, n);
            break;
          case BlendKind::kPremultiplied:
            AffineSpan<BlendKind::kPremultiplied>(s, ru, rv, du, dv, out, n);
            break;
          case BlendKind::kGeneric:
            AffineSpan<BlendKind::kGeneric>(s, ru, rv, du, dv, out, n);
            break;
        }
        continue;
      }
      int64_t col[4], tc[4];
      int64_t dcol[4], dtc[4];
      for (int k = 0; k < 4; ++k) {
        col[k] = PlaneAt(st.col[k], X, Y);
        dcol[k] = st.col[k].gx * kSubScale;
        tc[k] = PlaneAt(st.tc[k], X, Y);
        dtc[k] = st.tc[k].gx * kSubScale;
      }
      for (int32_t px = x0; px <= x1; ++px) {
        Rgba d{Clamp255(PlaneValue(col[0])), Clamp255(PlaneValue(col[1])), Clamp255(PlaneValue(col[2])),
               Clamp255(PlaneValue(col[3]))};
        int32_t u0 = tex0 ? ClampTex(PlaneValue(tc[0])) : 0, v0 = tex0 ? ClampTex(PlaneValue(tc[1])) : 0;
        int32_t u1 = tex1 ? ClampTex(PlaneValue(tc[2])) : 0, v1 = tex1 ? ClampTex(PlaneValue(tc[3])) : 0;
        Rgba f = ShadeFragment(s, d, u0, v0, u1, v1);
        if (!s.alpha_test || AlphaPasses(f.a, s.alpha_ref)) {
          if (s.blend) f = Blend(f, ReadTarget(target, px, py), s.src_blend, s.dst_blend);
          WriteTarget(target, px, py, f);
        }
        for (int k = 0; k < 4; ++k) {
          col[k] += dcol[k];
          tc[k] += dtc[k];
        }
      }
    }
  }
}

}  // namespace orvane::raster
