// The software rasterizer's per-pixel reference: every pixel of the target tested against every
// triangle directly, from the integer arithmetic of platform/raster_math.h. Tests and the fuzz
// target compare the span walker with it bit for bit.
#pragma once

#include <utility>

#include "platform/raster.h"

namespace raster_reference {

using namespace orvane::raster;

// The reference: every pixel of the target tested against every triangle directly.
inline void Reference(const RasterTarget& t, const RasterState& s, const RasterVertex* v, uint32_t nv,
                      const uint16_t* idx, uint32_t ni) {
  for (uint32_t i = 0; i + 3 <= ni; i += 3) {
    if (idx[i] >= nv || idx[i + 1] >= nv || idx[i + 2] >= nv) continue;
    const RasterVertex* p[3] = {&v[idx[i]], &v[idx[i + 1]], &v[idx[i + 2]]};
    SnapVertex sv[3];
    bool ok = true;
    for (int k = 0; k < 3; ++k) ok = ok && SnapPosition(p[k]->x, &sv[k].x) && SnapPosition(p[k]->y, &sv[k].y);
    if (!ok) continue;
    int64_t area = Area2(sv[0], sv[1], sv[2]);
    if (area == 0) continue;
    if (area < 0) {
      std::swap(p[1], p[2]);
      std::swap(sv[1], sv[2]);
      area = -area;
    }
    int32_t tc[3][4] = {};
    for (int k = 0; k < 3 && ok; ++k) {
      float uv[4] = {p[k]->u0, p[k]->v0, p[k]->u1, p[k]->v1};
      for (int j = 0; j < 4 && ok; ++j) {
        const TextureView& tv = s.tex[j / 2];
        if (tv.bits) ok = TexCoordFixed(uv[j], (j & 1) ? tv.height : tv.width, &tc[k][j]);
      }
    }
    if (!ok) continue;
    Edge e[3] = {MakeEdge(sv[0], sv[1]), MakeEdge(sv[1], sv[2]), MakeEdge(sv[2], sv[0])};
    Plane col[4], tp[4];
    for (int k = 0; k < 4; ++k) {
      int sh = k == 0 ? 16 : k == 1 ? 8 : k == 2 ? 0 : 24;
      col[k] = MakePlane(sv[0], sv[1], sv[2], area, (p[0]->diffuse >> sh) & 255, (p[1]->diffuse >> sh) & 255,
                         (p[2]->diffuse >> sh) & 255);
      tp[k] = MakePlane(sv[0], sv[1], sv[2], area, tc[0][k], tc[1][k], tc[2][k]);
    }
    for (int y = 0; y < t.height; ++y)
      for (int x = 0; x < t.width; ++x) {
        int64_t X = int64_t{x} * 16, Y = int64_t{y} * 16;
        if (!EdgeInside(e[0], X, Y) || !EdgeInside(e[1], X, Y) || !EdgeInside(e[2], X, Y)) continue;
        Rgba d{Clamp255(PlaneValue(PlaneAt(col[0], X, Y))), Clamp255(PlaneValue(PlaneAt(col[1], X, Y))),
               Clamp255(PlaneValue(PlaneAt(col[2], X, Y))), Clamp255(PlaneValue(PlaneAt(col[3], X, Y)))};
        int32_t uv[4];
        for (int k = 0; k < 4; ++k) uv[k] = ClampTex(PlaneValue(PlaneAt(tp[k], X, Y)));
        Rgba f = ShadeFragment(s, d, uv[0], uv[1], uv[2], uv[3]);
        if (s.alpha_test && !AlphaPasses(f.a, s.alpha_ref)) continue;
        if (s.blend) f = Blend(f, ReadTarget(t, x, y), s.src_blend, s.dst_blend);
        WriteTarget(t, x, y, f);
      }
  }
}

}  // namespace raster_reference
