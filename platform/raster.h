// The software rasterizer behind the Direct3D stand-in: indexed triangle lists of pre-transformed
// vertices (x, y, z, rhw, diffuse, two coordinate pairs), Gouraud-shaded, with two MODULATE
// texture stages, CLAMP addressing, POINT or LINEAR filtering, the GREATER alpha test and the
// blend factors of platform/raster_math.h, into X8R8G8B8 or R5G6B5 targets. No depth buffer, no
// culling. Triangles with a non-finite vertex, a vertex beyond +-2^20 pixels or an index past the
// vertices are skipped; only pixels inside the target are visited.
#pragma once

#include <cstdint>

#include "platform/raster_math.h"

// The rasterizer's entry points are used by the Direct3D stand-in and by tests in other modules.
#pragma GCC visibility push(default)
namespace orvane::raster {

// The 36-byte vertex of the sprite renderer's vertex format.
struct RasterVertex {
  float x, y, z, rhw;
  uint32_t diffuse;  // ARGB
  float u0, v0, u1, v1;
};
static_assert(sizeof(RasterVertex) == 36);

struct RasterTarget {
  uint8_t* bits;
  int64_t pitch;
  int32_t width, height;
  PixelKind kind;  // kX8R8G8B8 or kR5G6B5 (kA8R8G8B8 is written like kX8R8G8B8)
};

// What the device's states select for one draw.
struct RasterState {
  TextureView tex[2];     // a stage with bits == null has no texture and passes its input through
  bool linear[2];         // LINEAR filtering on that stage, else POINT
  bool stage_enabled[2];  // the stage's colour operation is MODULATE (else it and later stages are off)
  bool blend;             // ALPHABLENDENABLE
  uint32_t src_blend, dst_blend;
  bool alpha_test;  // ALPHATESTENABLE with ALPHAFUNC GREATER
  int32_t alpha_ref;
};

// Draws triangle-list indices [0, index_count) over vertices [0, vertex_count).
void DrawTriangles(const RasterTarget& target, const RasterState& state, const RasterVertex* vertices,
                   uint32_t vertex_count, const uint16_t* indices, uint32_t index_count);

// Reads and writes one target pixel as the rasterizer does (for tests and the present path).
Rgba ReadTarget(const RasterTarget& t, int32_t x, int32_t y);
void WriteTarget(const RasterTarget& t, int32_t x, int32_t y, const Rgba& c);

// The colour of one fragment before the alpha test and blending: the diffuse colour through the
// two stages at texture coordinates (u0, v0) and (u1, v1) in texels x 256 of each stage.
Rgba ShadeFragment(const RasterState& s, const Rgba& diffuse, int32_t u0, int32_t v0, int32_t u1, int32_t v1);

}  // namespace orvane::raster
#pragma GCC visibility pop
