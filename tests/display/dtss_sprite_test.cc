// TSS sprites: their data and links, and headless frames checked against the rasterizer's
// per-pixel reference (levels, corner gradient, parent and child, a stretch ending in its edge).
#include <cmath>
#include <limits>

#include "tests/support/raster_reference.h"
#include "tss_fixture.h"

using namespace tss_test;

namespace {

class TssSprite : public Tss {};

TEST_F(TssSprite, InitShowsNothingUntilDrawnAndSettersCheckTheirRanges) {
  ASSERT_TRUE(Start(8, 8));
  DRef<DtssImage> img = Image(4, 2, 0xFFFFFFFF);
  DRef<DtssSprite> s = manager_.CreateSprite(img.Get(), 2);
  ASSERT_TRUE(s);
  EXPECT_FALSE(s->IsDraw());
  EXPECT_EQ(s->GetLevel(), 2);
  EXPECT_EQ(s->GetSize().x, 4);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[0], 0u);
  s->SetDraw(true);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[0], 0xFFFFFFu);
  s->SetBlend(5);
  s->SetBlend(8);
  EXPECT_EQ(s->GetBlend(), 5u);
  struct {
    float v;
    uint32_t ref;
  } tests[] = {
      {0.25f, 64}, {0.002f, 0}, {1.2f, 255}, {0.0038215686f, 1}, {std::numeric_limits<float>::quiet_NaN(), 0},
      {-1.0f, 0}};
  for (auto& t : tests) {
    s->SetAlphaTest(t.v);
    EXPECT_EQ(s->GetAlphaRef(), t.ref) << t.v;
  }
  s->SetColorRGBA(4, 0, 0, 0, 0);  // corner out of range: nothing
  s->SetColorA(-1, 0);
  EXPECT_EQ(s->GetColor(0).a, 1.0f);
  s->SetMap(-1, 1, 9, 9);
  EXPECT_EQ(s->GetMap().x, 0);
  EXPECT_EQ(s->GetMap().y, 1);
  EXPECT_EQ(s->GetMap().width, 4);  // 9 - 1 cut at the far edge
  EXPECT_EQ(s->GetMap().height, 1);
  EXPECT_EQ(manager_.CreateSprite(nullptr, 0).Get(), nullptr);
  DtssImage stranger;
  EXPECT_EQ(manager_.CreateSprite(&stranger, 0).Get(), nullptr);
}

TEST_F(TssSprite, ParentsAreFollowedAndCyclesRefused) {
  ASSERT_TRUE(Start(16, 16));
  DRef<DtssImage> img = Image(1, 1, 0xFF00FF00);
  DRef<DtssSprite> parent = manager_.CreateSprite(img.Get(), 0), child = manager_.CreateSprite(img.Get(), 1),
                   grandchild = manager_.CreateSprite(img.Get(), 1);
  parent->SetPos(3, 3);
  child->SetPos(2, 1);
  grandchild->SetPos(1, 1);
  EXPECT_TRUE(child->Connect(parent));
  EXPECT_TRUE(grandchild->Connect(child));
  child->SetDraw(true);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[4 * 16 + 5], 0x00FF00u);
  int64_t x, y;
  grandchild->GetAbsPos(&x, &y);
  EXPECT_EQ(x, 6);
  EXPECT_EQ(y, 5);
  // A parent whose chain holds the sprite (itself included) is refused; the old link stays.
  EXPECT_FALSE(parent->Connect(grandchild));
  EXPECT_FALSE(parent->Connect(parent));
  EXPECT_EQ(parent->GetParent(), nullptr);
  EXPECT_EQ(grandchild->GetParent(), child.Get());
  // Moving the parent moves the drawn child at the next rebuild.
  parent->SetPos(10, 10);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[11 * 16 + 12], 0x00FF00u);
  // Releasing the middle sprite frees both links.
  child.Release();
  EXPECT_EQ(grandchild->GetParent(), nullptr);
  grandchild->GetAbsPos(&x, &y);
  EXPECT_EQ(x, 1);
  // Large positions sum in 64 bits.
  parent->SetPos(INT32_MAX, 0);
  grandchild->SetPos(INT32_MAX, 0);
  EXPECT_TRUE(grandchild->Connect(parent));
  grandchild->GetAbsPos(&x, &y);
  EXPECT_EQ(x, int64_t{INT32_MAX} * 2);
  grandchild->SetDraw(true);
  EXPECT_TRUE(manager_.Render());
}

// Builds the vertices of an untiled quad as the sprite rules say, for the reference.
std::vector<raster_reference::RasterVertex> QuadVertices(float x, float y, float w, float h,
                                                         const uint32_t c[4], float u0, float v0, float u1,
                                                         float v1) {
  std::vector<raster_reference::RasterVertex> v;
  for (int i = 0; i < 4; ++i) {
    float px = (i & 1) ? w : 0, py = (i >> 1) ? h : 0;
    v.push_back({x + px - 0.5f, y + py - 0.5f, 0, 1, c[i], (i & 1) ? u1 : u0, (i >> 1) ? v1 : v0, 0, 0});
  }
  return v;
}

TEST_F(TssSprite, GoldenCornerGradientAndSizes) {
  ASSERT_TRUE(Start(12, 10, 0x00));  // hardware device, linear filtering
  DImage src;
  MakeSource(&src, 3, 2,
             [](uint32_t x, uint32_t y) { return 0xFF000000u | (x * 100) << 16 | (y * 200) << 8 | 0x40; });
  DRef<DtssImage> img = manager_.CreateImage(src, 0, 0);
  DRef<DtssSprite> s = manager_.CreateSprite(img.Get(), 0);
  s->SetPos(1, 2);
  s->SetSize(9, 7);
  s->SetColorRGBA(0, 1, 0, 0, 1);
  s->SetColorRGBA(1, 0, 1, 0, 1);
  s->SetColorRGBA(2, 0, 0, 1, 0.5f);
  s->SetColorRGBA(3, 2.0f, 1, 1, 1);  // clamped when packed: no spill into alpha
  s->SetBlend(1);
  s->SetDraw(true);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(s->GetVertices()[3].diffuse, 0xFFFFFFFFu);
  // The reference frame from independently built vertices and the texture's pixels.
  std::vector<uint32_t> tex = ReadSurface(img->GetTexture());
  ASSERT_EQ(tex.size(), 6u);
  const uint32_t corners[4] = {0xFFFF0000, 0xFF00FF00, 0x7F0000FF, 0xFFFFFFFF};
  auto v = QuadVertices(1, 2, 9, 7, corners, 0, 0, 1, 1);
  std::vector<uint32_t> want(12 * 10, 0);
  raster_reference::TextureView tv{reinterpret_cast<const uint8_t*>(tex.data()), 12, 3, 2,
                                   orvane::raster::PixelKind::kA8R8G8B8};
  raster_reference::RasterState st{};
  st.tex[0] = tv;
  st.linear[0] = true;
  st.stage_enabled[0] = st.stage_enabled[1] = true;
  st.blend = true;
  st.src_blend = orvane::raster::kBlendSrcAlpha;
  st.dst_blend = orvane::raster::kBlendInvSrcAlpha;
  raster_reference::RasterTarget t{reinterpret_cast<uint8_t*>(want.data()), 48, 12, 10,
                                   orvane::raster::PixelKind::kX8R8G8B8};
  const uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
  raster_reference::Reference(t, st, v.data(), 4, idx, 6);
  EXPECT_EQ(Back(), want);
  // Zero sizes draw nothing; a negative size mirrors.
  std::vector<uint32_t> before = Back();
  s->SetSize(0, 7);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back(), before);
  s->SetBlend(0);
  s->SetPos(4, 0);
  s->SetSize(-3, 2);
  for (int i = 0; i < 4; ++i) s->SetColorRGBA(i, 1, 1, 1, 1);
  manager_.SetLinearMode(false);
  ASSERT_TRUE(manager_.Render());
  std::vector<uint32_t> back = Back();
  EXPECT_EQ(back[3], tex[0] & 0xFFFFFF);  // x 3 shows texel 0 (mirrored from x = 4 leftwards)
  EXPECT_EQ(back[1], tex[2] & 0xFFFFFF);
}

TEST_F(TssSprite, StretchEndsInItsEdgeColour) {
  orvane::dx::DeviceProfile p;
  p.pow2 = true;  // a 3x1 window in a 4x1 texture: the edge copy keeps linear filtering inside
  orvane::dx::SetProfile(p);
  ASSERT_TRUE(Start(6, 2, 0x00));
  DImage src;
  MakeSource(&src, 3, 1, [](uint32_t x, uint32_t) { return x == 2 ? 0xFF0000FFu : 0xFF000000u; });
  DRef<DtssImage> img = manager_.CreateImage(src, 0, 0);
  DRef<DtssSprite> s = manager_.CreateSprite(img.Get(), 0);
  s->SetSize(6, 1);
  s->SetMap(0, 0, 3, 1);
  s->SetDraw(true);
  ASSERT_TRUE(manager_.Render());
  std::vector<uint32_t> back = Back();
  EXPECT_EQ(back[5], 0x0000FFu);  // the last pixel samples between texel 2 and its copy
  EXPECT_EQ(back[0], 0u);
  EXPECT_GT(back[4] & 0xFF, 0x80u);
}

}  // namespace
