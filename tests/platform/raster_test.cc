// The software rasterizer against a per-pixel reference built from the integer arithmetic, and
// small scenes whose results follow from the rules by hand.
#include "platform/raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "tests/support/raster_reference.h"

using namespace orvane::raster;
using raster_reference::Reference;

namespace {

// A target of its own memory.
struct Canvas {
  Canvas(int w, int h, PixelKind k, uint32_t fill = 0) : width(w), height(h), kind(k) {
    int bpp = k == PixelKind::kR5G6B5 ? 2 : 4;
    pitch = w * bpp + 8;  // padding shows writes past a row
    bits.assign(static_cast<size_t>(pitch) * h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Set(x, y, fill);
  }
  RasterTarget Target() { return RasterTarget{bits.data(), pitch, width, height, kind}; }
  void Set(int x, int y, uint32_t v) {
    if (kind == PixelKind::kR5G6B5)
      std::memcpy(&bits[y * pitch + x * 2], &v, 2);
    else
      std::memcpy(&bits[y * pitch + x * 4], &v, 4);
  }
  uint32_t Get(int x, int y) const {
    uint32_t v = 0;
    std::memcpy(&v, &bits[y * pitch + x * (kind == PixelKind::kR5G6B5 ? 2 : 4)],
                kind == PixelKind::kR5G6B5 ? 2 : 4);
    return v;
  }
  int width, height;
  PixelKind kind;
  int64_t pitch;
  std::vector<uint8_t> bits;
};

struct Texture {
  Texture(int w, int h, PixelKind k) : width(w), height(h), kind(k) {
    bpp = (k == PixelKind::kR5G6B5 || k == PixelKind::kA4R4G4B4) ? 2 : 4;
    bits.assign(static_cast<size_t>(w) * h * bpp, 0);
  }
  void Set(int x, int y, uint32_t v) { std::memcpy(&bits[(y * width + x) * bpp], &v, bpp); }
  TextureView View() const { return TextureView{bits.data(), int64_t{width} * bpp, width, height, kind}; }
  int width, height, bpp;
  PixelKind kind;
  std::vector<uint8_t> bits;
};

RasterState Plain() {
  RasterState s{};
  s.stage_enabled[0] = s.stage_enabled[1] = true;
  s.src_blend = kBlendOne;
  s.dst_blend = kBlendZero;
  return s;
}

RasterVertex V(float x, float y, uint32_t c, float u = 0, float v = 0, float u1 = 0, float v1 = 0) {
  return RasterVertex{x, y, 0, 1, c, u, v, u1, v1};
}

// A quad from (x0, y0) to (x1, y1) mapping texture coordinates (tu0, tv0)-(tu1, tv1) on both pairs.
void Quad(std::vector<RasterVertex>* vs, std::vector<uint16_t>* is, float x0, float y0, float x1, float y1,
          uint32_t c, float tu0 = 0, float tv0 = 0, float tu1 = 1, float tv1 = 1) {
  uint16_t b = static_cast<uint16_t>(vs->size());
  vs->push_back(V(x0, y0, c, tu0, tv0, tu0, tv0));
  vs->push_back(V(x1, y0, c, tu1, tv0, tu1, tv0));
  vs->push_back(V(x0, y1, c, tu0, tv1, tu0, tv1));
  vs->push_back(V(x1, y1, c, tu1, tv1, tu1, tv1));
  for (uint16_t i : {0, 1, 2, 2, 1, 3}) is->push_back(static_cast<uint16_t>(b + i));
}

void Draw(Canvas& c, const RasterState& s, const std::vector<RasterVertex>& v,
          const std::vector<uint16_t>& i) {
  DrawTriangles(c.Target(), s, v.data(), static_cast<uint32_t>(v.size()), i.data(),
                static_cast<uint32_t>(i.size()));
}

void ExpectSameAsReference(Canvas start, const RasterState& s, const std::vector<RasterVertex>& v,
                           const std::vector<uint16_t>& i) {
  Canvas fast = start, ref = start;
  Draw(fast, s, v, i);
  Reference(ref.Target(), s, v.data(), static_cast<uint32_t>(v.size()), i.data(),
            static_cast<uint32_t>(i.size()));
  ASSERT_EQ(fast.bits, ref.bits);
}

TEST(RasterMath, WideningAndNarrowingRules) {
  Rgba a = Decode4444(0xF8C4);
  EXPECT_EQ(a.a, 255);
  EXPECT_EQ(a.r, 8 * 17);
  EXPECT_EQ(a.g, 12 * 17);
  EXPECT_EQ(a.b, 4 * 17);
  Rgba b = Decode565(0xFFDF);  // green as 6 bits: 0x3E -> 251
  EXPECT_EQ(b.r, 255);
  EXPECT_EQ(b.g, 251);
  EXPECT_EQ(b.b, 255);
  EXPECT_EQ(b.a, 255);
  EXPECT_EQ(Encode565(Rgba{0x87, 0x47, 0x0F, 255}), (0x10 << 11) | (0x11 << 5) | 0x01);
  EXPECT_EQ(Decode32(0x12345678, false).a, 255);
  for (int x = 0; x < 256; ++x) EXPECT_EQ(Mul255(x, 255), x);  // white diffuse changes nothing
  EXPECT_EQ(Mul255(128, 128), 64);                             // 64.25
  EXPECT_EQ(Mul255(255, 1), 1);
}

TEST(Raster, OneToOneQuadReproducesTexelsForEveryFormatAndFilter) {
  for (PixelKind tk : {PixelKind::kA8R8G8B8, PixelKind::kX8R8G8B8, PixelKind::kA4R4G4B4, PixelKind::kR5G6B5})
    for (bool linear : {false, true}) {
      Texture tex(7, 5, tk);
      std::mt19937 rng(7);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
          tex.Set(x, y, rng() | 0xFF000000u | (tk == PixelKind::kA4R4G4B4 ? 0xF000 : 0));
      Canvas c(9, 8, PixelKind::kX8R8G8B8, 0x00abcdef);
      RasterState s = Plain();
      s.tex[0] = tex.View();
      s.linear[0] = linear;
      std::vector<RasterVertex> v;
      std::vector<uint16_t> i;
      Quad(&v, &i, 1.5f, 2.5f, 8.5f, 7.5f, 0xFFFFFFFF);  // pixels 2..8 x 3..7
      Draw(c, s, v, i);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 9; ++x) {
          bool in = x >= 2 && y >= 3;
          Rgba t = in ? ReadTexel(tex.bits.data(), tex.width * tex.bpp, tk, x - 2, y - 3) : Rgba{};
          uint32_t want = in ? EncodeX888(t) : 0x00abcdef;
          ASSERT_EQ(c.Get(x, y), want) << int(tk) << " " << linear << " at " << x << "," << y;
        }
    }
}

TEST(Raster, LinearStretchClampsAtBothEnds) {
  Texture tex(2, 1, PixelKind::kX8R8G8B8);
  tex.Set(0, 0, 0x000000);
  tex.Set(1, 0, 0x0000FF);
  Canvas c(4, 1, PixelKind::kX8R8G8B8);
  RasterState s = Plain();
  s.tex[0] = tex.View();
  s.linear[0] = true;
  std::vector<RasterVertex> v;
  std::vector<uint16_t> i;
  Quad(&v, &i, -0.5f, -0.5f, 3.5f, 0.5f, 0xFFFFFFFF);
  Draw(c, s, v, i);
  // Centres at u = 0.25, 0.75, 1.25, 1.75 texels: weights 0, 1/4, 3/4 and 1 of the second texel.
  EXPECT_EQ(c.Get(0, 0), 0u);
  EXPECT_EQ(c.Get(1, 0), 64u);  // 255 * 64 / 256 = 63.75
  EXPECT_EQ(c.Get(2, 0), 191u);
  EXPECT_EQ(c.Get(3, 0), 255u);
  s.linear[0] = false;
  Draw(c, s, v, i);
  EXPECT_EQ(c.Get(0, 0), 0u);
  EXPECT_EQ(c.Get(1, 0), 0u);
  EXPECT_EQ(c.Get(2, 0), 255u);
  EXPECT_EQ(c.Get(3, 0), 255u);
}

TEST(Raster, BlendModesAlphaTestAndStages) {
  struct Case {
    const char* name;
    uint32_t src, dst;  // factors
    uint32_t colour;    // untextured source ARGB
    uint32_t under;     // target pixel before
    int alpha_ref;      // 0: no test
    uint32_t want;
  };
  const Case cases[] = {
      {"replace", kBlendOne, kBlendZero, 0x80102030, 0x00FFFFFF, 0, 0x102030},
      // 16 * 128 + 255 * 127 = 34433 -> 135.03
      {"alpha", kBlendSrcAlpha, kBlendInvSrcAlpha, 0x80101010, 0x00FFFFFF, 0, 0x878787},
      {"add", kBlendSrcAlpha, kBlendOne, 0xFFC0C0C0, 0x00808080, 0, 0xFFFFFF},       // saturates
      {"add half", kBlendSrcAlpha, kBlendOne, 0x80404040, 0x00101010, 0, 0x303030},  // 32.1 + 16
      {"premultiplied", kBlendOne, kBlendInvSrcAlpha, 0x40404040, 0x00808080, 0, 0xA0A0A0},
      {"multiply", kBlendDestColor, kBlendZero, 0xFF808080, 0x00808080, 0, 0x404040},
      {"screen-ish", kBlendInvDestColor, kBlendZero, 0xFF808080, 0x00404040, 0, 0x606060},
      {"multiply add", kBlendDestColor, kBlendOne, 0xFF808080, 0x00808080, 0, 0xC0C0C0},
      {"test equal refused", kBlendOne, kBlendZero, 0x80102030, 0x00FFFFFF, 128, 0xFFFFFF},
      {"test greater kept", kBlendOne, kBlendZero, 0x81102030, 0x00FFFFFF, 128, 0x102030},
  };
  for (const Case& k : cases) {
    Canvas c(3, 3, PixelKind::kX8R8G8B8, k.under);
    RasterState s = Plain();
    s.blend = k.src != kBlendOne || k.dst != kBlendZero;
    s.src_blend = k.src;
    s.dst_blend = k.dst;
    s.alpha_test = k.alpha_ref != 0;
    s.alpha_ref = k.alpha_ref;
    std::vector<RasterVertex> v;
    std::vector<uint16_t> i;
    Quad(&v, &i, 0.5f, 0.5f, 1.5f, 1.5f, k.colour);
    Draw(c, s, v, i);
    EXPECT_EQ(c.Get(1, 1), k.want) << k.name;
    EXPECT_EQ(c.Get(0, 0), k.under) << k.name;
  }
}

TEST(Raster, StageOneModulatesWhenTexturedAndPassesThroughOtherwise) {
  Texture t0(1, 1, PixelKind::kA8R8G8B8), t1(1, 1, PixelKind::kA4R4G4B4);
  t0.Set(0, 0, 0xFF8040FF);
  t1.Set(0, 0, 0x8F0F);  // a 136, r 255, g 0, b 255
  RasterState s = Plain();
  s.tex[0] = t0.View();
  std::vector<RasterVertex> v;
  std::vector<uint16_t> i;
  Quad(&v, &i, -0.5f, -0.5f, 0.5f, 0.5f, 0xFFFFFFFF);
  Canvas a(1, 1, PixelKind::kX8R8G8B8);
  Draw(a, s, v, i);
  EXPECT_EQ(a.Get(0, 0), 0x8040FFu);
  s.tex[1] = t1.View();
  s.blend = true;
  s.src_blend = kBlendSrcAlpha;
  s.dst_blend = kBlendInvSrcAlpha;
  Canvas b(1, 1, PixelKind::kX8R8G8B8);
  Draw(b, s, v, i);
  // Colour (128, 0, 255), alpha 136: 128 * 136 / 255 = 68.27, 255 * 136 / 255 = 136.
  EXPECT_EQ(b.Get(0, 0), 0x440088u);
}

TEST(Raster, SharedDiagonalIsHitOnceAndBothWindingsDraw) {
  for (bool flip : {false, true}) {
    Canvas c(16, 16, PixelKind::kX8R8G8B8);
    RasterState s = Plain();
    s.blend = true;
    s.src_blend = kBlendOne;
    s.dst_blend = kBlendOne;
    std::vector<RasterVertex> v;
    std::vector<uint16_t> i;
    Quad(&v, &i, 0.3f, 0.7f, 15.2f, 14.9f, 0xFF646464);
    if (flip)
      for (size_t k = 0; k < i.size(); k += 3) std::swap(i[k + 1], i[k + 2]);
    Draw(c, s, v, i);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        bool in = x >= 1 && x <= 15 && y >= 1 && y <= 14;
        ASSERT_EQ(c.Get(x, y), in ? 0x646464u : 0u) << x << "," << y << " flip " << flip;
      }
  }
}

TEST(Raster, R5G6B5TargetTruncatesAndGouraudFollowsTheReference) {
  Canvas c(20, 12, PixelKind::kR5G6B5, 0x1234);
  RasterState s = Plain();
  s.blend = true;
  s.src_blend = kBlendSrcAlpha;
  s.dst_blend = kBlendInvSrcAlpha;
  std::vector<RasterVertex> v = {V(0, 0, 0xFFFF0000), V(19, 1, 0x8000FF00), V(2, 11, 0x200000FF),
                                 V(18, 11, 0xFFFFFFFF)};
  std::vector<uint16_t> i = {0, 1, 2, 2, 1, 3};
  ExpectSameAsReference(c, s, v, i);
  Canvas d(1, 1, PixelKind::kR5G6B5);
  std::vector<RasterVertex> w;
  std::vector<uint16_t> j;
  Quad(&w, &j, -0.5f, -0.5f, 0.5f, 0.5f, 0xFF0F0F0F);
  Draw(d, Plain(), w, j);
  EXPECT_EQ(d.Get(0, 0), (1u << 11) | (3u << 5) | 1u);
}

TEST(Raster, BadInputIsSkippedAndOnlyTargetPixelsAreVisited) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  Canvas c(8, 8, PixelKind::kX8R8G8B8, 0x111111);
  Canvas before = c;
  RasterState s = Plain();
  std::vector<RasterVertex> v = {V(0, 0, 0xFFFFFFFF),    V(nan, 5, 0xFFFFFFFF), V(5, inf, 0xFFFFFFFF),
                                 V(3e6f, 0, 0xFFFFFFFF), V(8, 8, 0xFFFFFFFF),   V(0, 8, 0xFFFFFFFF)};
  std::vector<uint16_t> i = {0, 1, 4, 0, 2, 4,     0, 3, 5,
                             0, 4, 6, 0, 4, 65535, 0, 4};  // last is a partial triangle
  Draw(c, s, v, i);
  EXPECT_EQ(c.bits, before.bits);
  // A huge but valid triangle covers the target and writes nothing past it (the row padding).
  std::vector<RasterVertex> big = {V(-1e6f, -1e6f, 0xFF00FF00), V(1e6f, -1e6f, 0xFF00FF00),
                                   V(0, 1e6f, 0xFF00FF00)};
  std::vector<uint16_t> bi = {0, 1, 2};
  Draw(c, s, big, bi);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) ASSERT_EQ(c.Get(x, y), 0x00FF00u);
    for (int p = 32; p < 40; ++p) ASSERT_EQ(c.bits[y * c.pitch + p], 0);
  }
  Texture t(2, 2, PixelKind::kA8R8G8B8);
  s.tex[0] = t.View();
  std::vector<RasterVertex> badtex = {V(0, 0, 0xFFFFFFFF, nan, 0), V(8, 0, 0xFFFFFFFF), V(0, 8, 0xFFFFFFFF)};
  Canvas d = before;
  Draw(d, s, badtex, bi);
  EXPECT_EQ(d.bits, before.bits);
}

// Random scenes through every path (1:1, scaled, rotated, untextured, both stages, both filters,
// every blend, alpha test, both targets) give the reference's bits.
TEST(Raster, RandomScenesEqualTheReference) {
  std::mt19937 rng(1234);
  auto uni = [&](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
  const uint32_t factors[] = {kBlendZero,        kBlendOne,       kBlendSrcAlpha,
                              kBlendInvSrcAlpha, kBlendDestColor, kBlendInvDestColor};
  const PixelKind kinds[] = {PixelKind::kA8R8G8B8, PixelKind::kX8R8G8B8, PixelKind::kA4R4G4B4,
                             PixelKind::kR5G6B5};
  for (int scene = 0; scene < 600; ++scene) {
    Canvas c(1 + rng() % 40, 1 + rng() % 30, (rng() & 1) ? PixelKind::kR5G6B5 : PixelKind::kX8R8G8B8);
    for (auto& b : c.bits) b = static_cast<uint8_t>(rng());
    Texture t0(1 + rng() % 9, 1 + rng() % 9, kinds[rng() % 4]),
        t1(1 + rng() % 5, 1 + rng() % 5, kinds[rng() % 4]);
    for (auto& b : t0.bits) b = static_cast<uint8_t>(rng());
    for (auto& b : t1.bits) b = static_cast<uint8_t>(rng());
    RasterState s = Plain();
    if (rng() % 4) s.tex[0] = t0.View();
    if (rng() % 2) s.tex[1] = t1.View();
    s.linear[0] = rng() & 1;
    s.linear[1] = rng() & 1;
    s.blend = rng() & 1;
    s.src_blend = factors[rng() % 6];
    s.dst_blend = factors[rng() % 6];
    s.alpha_test = rng() % 3 == 0;
    s.alpha_ref = rng() % 256;
    std::vector<RasterVertex> v;
    std::vector<uint16_t> i;
    int shape = rng() % 3;
    for (int q = 0; q < 3; ++q) {
      if (shape == 0) {  // 1:1 at half-pixel offsets
        float x = std::floor(uni(-5, 35)) - 0.5f, y = std::floor(uni(-5, 25)) - 0.5f;
        float w = float(t0.width), h = float(t0.height);
        Quad(&v, &i, x, y, x + w, y + h, (rng() & 1) ? 0xFFFFFFFFu : (rng() | 0x80000000u));
      } else if (shape == 1) {  // scaled
        Quad(&v, &i, uni(-10, 40), uni(-10, 30), uni(-10, 40), uni(-10, 30),
             (rng() & 1) ? 0xFFFFFFFFu : rng(), uni(-0.5f, 0.5f), uni(-0.5f, 0.5f), uni(0.5f, 1.5f),
             uni(0.5f, 1.5f));
      } else {  // rotated: arbitrary corners and colours
        uint16_t b = static_cast<uint16_t>(v.size());
        bool white = rng() & 1;
        for (int k = 0; k < 4; ++k)
          v.push_back(V(uni(-10, 50), uni(-10, 40), white ? 0xFFFFFFFFu : rng(), uni(-1, 2), uni(-1, 2),
                        uni(-1, 2), uni(-1, 2)));
        for (uint16_t k : {0, 1, 2, 2, 1, 3}) i.push_back(static_cast<uint16_t>(b + k));
      }
    }
    ExpectSameAsReference(c, s, v, i);
  }
}

// The 1:1 fast paths (white diffuse, texel rows, each blend kind, with and without the alpha
// test, spans clipped by the target) against the reference.
TEST(Raster, OneToOneSpansEqualTheReference) {
  std::mt19937 rng(99);
  const uint32_t pairs[][2] = {{kBlendOne, kBlendZero},      {kBlendSrcAlpha, kBlendInvSrcAlpha},
                               {kBlendSrcAlpha, kBlendOne},  {kBlendOne, kBlendInvSrcAlpha},
                               {kBlendDestColor, kBlendOne}, {kBlendInvDestColor, kBlendZero}};
  for (int scene = 0; scene < 300; ++scene) {
    Canvas c(1 + rng() % 40, 1 + rng() % 20, PixelKind::kX8R8G8B8);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) c.Set(x, y, rng() & 0xFFFFFF);
    Texture t(1 + rng() % 24, 1 + rng() % 6, (rng() & 1) ? PixelKind::kA8R8G8B8 : PixelKind::kX8R8G8B8);
    for (auto& b : t.bits) b = static_cast<uint8_t>(rng());
    RasterState s = Plain();
    s.tex[0] = t.View();
    s.linear[0] = rng() & 1;
    const uint32_t* p = pairs[rng() % 6];
    s.blend = rng() % 5 != 0;
    s.src_blend = p[0];
    s.dst_blend = p[1];
    s.alpha_test = rng() % 3 == 0;
    s.alpha_ref = rng() % 256;
    std::vector<RasterVertex> v;
    std::vector<uint16_t> i;
    for (int q = 0; q < 4; ++q) {
      float x = float(int(rng() % 50) - 10) - 0.5f, y = float(int(rng() % 30) - 5) - 0.5f;
      Quad(&v, &i, x, y, x + t.width, y + t.height, 0xFFFFFFFF);
    }
    ExpectSameAsReference(c, s, v, i);
  }
}

}  // namespace
