// Fuzz target of the software rasterizer: arbitrary triangle batches (any floats, any indices,
// any states and texture formats) drawn by the span walker must equal the per-pixel reference.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/raster.h"
#include "tests/support/raster_reference.h"

using namespace orvane::raster;

#include "fuzz/fuzz_reader.h"
namespace {

using fuzz_support::Reader;

const PixelKind kKinds[4] = {PixelKind::kA8R8G8B8, PixelKind::kX8R8G8B8, PixelKind::kA4R4G4B4,
                             PixelKind::kR5G6B5};
const uint32_t kFactors[6] = {kBlendZero,        kBlendOne,       kBlendSrcAlpha,
                              kBlendInvSrcAlpha, kBlendDestColor, kBlendInvDestColor};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r{data, size};
  int w = 1 + r.U8() % 48, h = 1 + r.U8() % 48;
  bool r565 = r.U8() & 1;
  RasterState s{};
  uint8_t f = r.U8();
  s.stage_enabled[0] = f & 1;
  s.stage_enabled[1] = f & 2;
  s.linear[0] = f & 4;
  s.linear[1] = f & 8;
  s.blend = f & 16;
  s.alpha_test = f & 32;
  s.alpha_ref = r.U8();
  s.src_blend = kFactors[r.U8() % 6];
  s.dst_blend = kFactors[r.U8() % 6];
  std::vector<uint8_t> tex[2];
  for (int t = 0; t < 2; ++t) {
    uint8_t d = r.U8();
    if (!(d & 1)) continue;
    int tw = 1 + (d >> 1) % 8, th = 1 + r.U8() % 8;
    PixelKind k = kKinds[r.U8() % 4];
    int bpp = (k == PixelKind::kA4R4G4B4 || k == PixelKind::kR5G6B5) ? 2 : 4;
    tex[t].resize(static_cast<size_t>(tw) * th * bpp);
    for (auto& b : tex[t]) b = r.U8();
    s.tex[t] = TextureView{tex[t].data(), int64_t{tw} * bpp, tw, th, k};
  }
  uint32_t nv = r.U8() % 16;
  std::vector<RasterVertex> v(nv);
  for (auto& x : v) x = r.Get<RasterVertex>();
  uint32_t ni = r.U8() % 40;
  std::vector<uint16_t> idx(ni);
  for (auto& i : idx) i = static_cast<uint16_t>(r.U8() % 20);  // some past the vertices
  int bpp = r565 ? 2 : 4;
  int64_t pitch = int64_t{w} * bpp;
  std::vector<uint8_t> a(static_cast<size_t>(pitch) * h), b;
  for (auto& x : a) x = r.U8();
  b = a;
  PixelKind tk = r565 ? PixelKind::kR5G6B5 : PixelKind::kX8R8G8B8;
  DrawTriangles(RasterTarget{a.data(), pitch, w, h, tk}, s, v.data(), nv, idx.data(), ni);
  raster_reference::Reference(RasterTarget{b.data(), pitch, w, h, tk}, s, v.data(), nv, idx.data(), ni);
  if (a != b) __builtin_trap();
  return 0;
}
