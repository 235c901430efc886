// The software rasterizer: triangle setup, span walking and the per-fragment pipeline.
#include "platform/raster.h"

#include <algorithm>

namespace orvane::raster {
namespace {

inline int64_t FloorDiv(int64_t n, int64_t d) {  // d > 0
  int64_t q = n / d;
  return (n % d != 0 && n < 0) ? q - 1 : q;
}
inline int64_t CeilDiv(int64_t n, int64_t d) { return -FloorDiv(-n, d); }

struct Setup {
  Edge e[3];
  Plane col[4];  // r, g, b, a
  Plane tc[4];   // u0, v0, u1, v1
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
  int64_t px0 = std::max<int64_t>(0, CeilDiv(lo_x, kSubScale)), px1 = std::min<int64_t>(t.width - 1, FloorDiv(hi_x, kSubScale));
  int64_t py0 = std::max<int64_t>(0, CeilDiv(lo_y, kSubScale)), py1 = std::min<int64_t>(t.height - 1, FloorDiv(hi_y, kSubScale));
  if (px0 > px1 || py0 > py1) return false;
  out->min_x = static_cast<int32_t>(px0);
  out->max_x = static_cast<int32_t>(px1);
  out->min_y = static_cast<int32_t>(py0);
  out->max_y = static_cast<int32_t>(py1);
  out->e[0] = MakeEdge(sv[0], sv[1]);
  out->e[1] = MakeEdge(sv[1], sv[2]);
  out->e[2] = MakeEdge(sv[2], sv[0]);
  for (int k = 0; k < 4; ++k) {
    int shift = k == 0 ? 16 : k == 1 ? 8 : k == 2 ? 0 : 24;
    int32_t c0 = (v[0]->diffuse >> shift) & 255, c1 = (v[1]->diffuse >> shift) & 255, c2 = (v[2]->diffuse >> shift) & 255;
    out->col[k] = MakePlane(sv[0], sv[1], sv[2], area, c0, c1, c2);
    out->tc[k] = MakePlane(sv[0], sv[1], sv[2], area, tcv[0][k], tcv[1][k], tcv[2][k]);
  }
  return true;
}

// The pixel span [*x0, *x1] of row py inside all three edges; false when empty.
bool RowSpan(const Setup& st, int32_t py, int32_t* x0, int32_t* x1) {
  int64_t lo = st.min_x, hi = st.max_x;
  int64_t Y = int64_t{py} * kSubScale;
  for (const Edge& e : st.e) {
    int64_t k = e.ey * Y + e.c + e.bias;  // E + bias = ex * 16 * px + k >= 0
    int64_t step = e.ex * kSubScale;
    if (step > 0) {
      lo = std::max(lo, CeilDiv(-k, step));
    } else if (step < 0) {
      hi = std::min(hi, FloorDiv(k, -step));
    } else if (k < 0) {
      return false;
    }
    if (lo > hi) return false;
  }
  *x0 = static_cast<int32_t>(lo);
  *x1 = static_cast<int32_t>(hi);
  return true;
}

inline Rgba Sample(const TextureView& t, bool linear, int32_t u, int32_t v) {
  return linear ? SampleLinear(t, u, v) : SamplePoint(t, u, v);
}

}  // namespace

Rgba ShadeFragment(const RasterState& s, const Rgba& diffuse, int32_t u0, int32_t v0, int32_t u1, int32_t v1) {
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
  if (target.kind != PixelKind::kX8R8G8B8 && target.kind != PixelKind::kA8R8G8B8 && target.kind != PixelKind::kR5G6B5)
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
    for (int32_t py = st.min_y; py <= st.max_y; ++py) {
      int32_t x0, x1;
      if (!RowSpan(st, py, &x0, &x1)) continue;
      int64_t X = int64_t{x0} * kSubScale, Y = int64_t{py} * kSubScale;
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
          if (s.blend)
            f = Blend(f, ReadTarget(target, px, py), s.src_blend, s.dst_blend);
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
