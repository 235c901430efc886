// The `ovts` sprite exports: creation and levels, attributes and the values they ignore, the alpha
// test, map clipping, rotations, connection, wipes and the handle rules.
#include <climits>
#include <cmath>

#include "tss_fixture.h"

using namespace tss_api_test;

namespace {

class TssSprites : public TssApi {
 protected:
  void SetUp() override {
    TssApi::SetUp();
    TextureBits(32);
    ASSERT_TRUE(Start(16, 16));
    image_ = ovtsCreateImage(32, 32);
    ASSERT_NE(image_, nullptr);
  }
  void TearDown() override {
    for (ApiHandle* s : sprites_) ovtsDestroySprite(s);
    ovtsDestroyImage(image_);
    TssApi::TearDown();
  }
  ApiHandle* Sprite(int32_t level = 0, int32_t flags = 0) {
    ApiHandle* s = ovtsCreateSprite(image_, level, flags);
    if (s) sprites_.push_back(s);
    return s;
  }
  static DRef<DtssSprite> Of(ApiHandle* s) { return TssSpriteOf(s, "test"); }

  ApiHandle* image_ = nullptr;
  std::vector<ApiHandle*> sprites_;
};

TEST_F(TssSprites, CreateGivesANewHandleEachTimeAndHonoursHidden) {
  ApiHandle* a = Sprite(3);
  ApiHandle* b = Sprite(3, 2);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_EQ(ovtsIsSpriteDraw(a), 1);
  EXPECT_EQ(ovtsIsSpriteDraw(b), 0);
  EXPECT_EQ(ovtsGetSpriteLevel(b), 3);
  const OvSize size = ovtsGetSpriteSize(a);
  EXPECT_EQ(size.width, 32);
  EXPECT_EQ(size.height, 32);
  for (int32_t bad : {-1, -2, 65536, INT_MIN}) EXPECT_EQ(ovtsCreateSprite(image_, bad, 0), nullptr) << bad;
  EXPECT_EQ(ovtsCreateSprite(nullptr, 0, 0), nullptr);
}

TEST_F(TssSprites, Levels) {
  ApiHandle* s = Sprite(5);
  ASSERT_NE(s, nullptr);
  const struct {
    int32_t level;
    int32_t result, stored;
    uint32_t table;  // level table size afterwards
  } rows[] = {
      {0, 1, 0, 128},           {127, 1, 127, 128},   {128, 1, 128, 256},
      {-2, 0, 128, 256},        {65536, 0, 128, 256}, {INT_MIN, 0, 128, 256},
      {65535, 1, 65535, 65536}, {-1, 0, -1, 65536},   {-1, 1, -1, 65536},  // unchanged: 1 at once
  };
  for (const auto& r : rows) {
    EXPECT_EQ(ovtsSetSpriteLevel(s, r.level), r.result) << r.level;
    EXPECT_EQ(ovtsGetSpriteLevel(s), r.stored) << r.level;
    EXPECT_EQ(TssManager().LevelCount(), r.table) << r.level;
  }
  // A hidden sprite changes level (1) and stays undrawn until shown.
  ApiHandle* h = Sprite(0);
  ovtsFillImage(image_, 1, 0, 0, 1);
  ovtsSetSpriteDraw(h, 0);
  EXPECT_EQ(ovtsSetSpriteLevel(h, 3), 1);
  EXPECT_EQ(ovtsIsSpriteDraw(h), 0);
  ASSERT_EQ(ovtsRender(), 1);
  EXPECT_EQ(Back()[0], 0u);
  ovtsSetSpriteDraw(h, 1);
  ASSERT_EQ(ovtsRender(), 1);
  EXPECT_EQ(Back()[0], 0xFF0000u);
  EXPECT_EQ(ovtsGetSpriteLevel(h), 3);
}

TEST_F(TssSprites, AttributesAndTheValuesTheyIgnore) {
  ApiHandle* s = Sprite();
  DRef<DtssSprite> u = Of(s);
  ovtsSetSpriteBlend(s, 3);
  for (int32_t bad : {8, -1, INT_MAX}) ovtsSetSpriteBlend(s, bad);
  EXPECT_EQ(ovtsGetSpriteBlend(s), 3);
  ovtsSetSpriteColorRGBA(s, 2, 0.1f, 0.2f, 0.3f, 0.4f);
  for (int32_t bad : {4, -1, INT_MIN}) {
    ovtsSetSpriteColorRGBA(s, bad, 0, 0, 0, 0);
    ovtsSetSpriteColorRGB(s, bad, 0, 0, 0);
    ovtsSetSpriteColorA(s, bad, 0);
    ovtsSetSpriteNcPos(s, bad, 5, 5);
    ovtsSetSpriteNcImageMap(s, bad, 5, 5);
  }
  for (int c = 0; c < 4; ++c) {
    const DtssSprite::Color& color = u->GetColor(c);
    EXPECT_FLOAT_EQ(color.a, c == 2 ? 0.4f : 1.0f) << c;
    EXPECT_FLOAT_EQ(color.r, c == 2 ? 0.1f : 1.0f) << c;
  }
  ovtsSetSpriteColorRGB(s, 1, 0.5f, 0.5f, 0.5f);
  ovtsSetSpriteColorA(s, 1, 0.25f);
  EXPECT_FLOAT_EQ(u->GetColor(1).g, 0.5f);
  EXPECT_FLOAT_EQ(u->GetColor(1).a, 0.25f);
  // Map clipping against the 32 x 32 window.
  const struct {
    int32_t x, y, w, h;
    OvRect want;
  } maps[] = {{-10, 0, 50, 50, {0, 0, 32, 32}}, {4, 4, 8, 8, {4, 4, 8, 8}}, {30, 30, 10, 10, {30, 30, 2, 2}}};
  for (const auto& m : maps) {
    ovtsSetSpriteMap(s, m.x, m.y, m.w, m.h);
    const OvRect r = ovtsGetSpriteMap(s);
    EXPECT_EQ((std::vector<int32_t>{r.x, r.y, r.w, r.h}),
              (std::vector<int32_t>{m.want.x, m.want.y, m.want.w, m.want.h}))
        << m.x;
  }
  ovtsSetSpriteSize(s, 7, 9);
  EXPECT_EQ(ovtsGetSpriteSize(s).width, 7);
  EXPECT_EQ(ovtsGetSpriteSize(s).height, 9);
  ovtsSetSpritePos(s, -3, 4);
  EXPECT_EQ(ovtsGetSpritePos(s).x, -3);
  EXPECT_EQ(ovtsGetSpritePos(s).y, 4);
}

TEST_F(TssSprites, AlphaTest) {
  ApiHandle* s = Sprite();
  const struct {
    float value;
    uint32_t ref;
    float back;
  } rows[] = {{0.003f, 0, 0.0f},       {0.0038215686f, 1, 0.003921569f}, {0.5f, 128, 0.50196081f},
              {1.0f, 255, 1.0000001f}, {7.0f, 255, 1.0000001f},          {-1.0f, 0, 0.0f},
              {NAN, 0, 0.0f},          {INFINITY, 255, 1.0000001f}};
  for (const auto& r : rows) {
    ovtsSetSpriteAlphaTest(s, r.value);
    EXPECT_EQ(Of(s)->GetAlphaRef(), r.ref) << r.value;
    EXPECT_FLOAT_EQ(ovtsGetSpriteAlphaTest(s), r.back) << r.value;
  }
}

TEST_F(TssSprites, RotationsAddUpAndNoneResets) {
  ApiHandle* a = Sprite();
  ApiHandle* b = Sprite();
  ovtsRotateSpriteZ(a, 45);
  ovtsRotateSpriteZ(a, 45);
  ovtsRotateSpriteZ(b, 90);
  const D3DXMATRIX& ma = Of(a)->GetTransform();
  const D3DXMATRIX& mb = Of(b)->GetTransform();
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(ma.m[i][j], mb.m[i][j], 1e-6) << i << j;
  EXPECT_NE(Of(a)->GetFlags() & DtssSprite::kRotated, 0u);
  ovtsRotateSpriteX(a, 30);
  ovtsRotateSpriteY(a, NAN);
  ovtsRotateSpriteNone(a);
  EXPECT_EQ(Of(a)->GetFlags() & DtssSprite::kRotated, 0u);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_EQ(Of(a)->GetTransform().m[i][j], i == j ? 1.0f : 0.0f);
  ovtsSetSpritePivot(a, NAN, INFINITY);
  ovtsRotateSpriteZ(a, INFINITY);
  EXPECT_EQ(ovtsRender(), 1);  // non-finite input stays in floats
}

TEST_F(TssSprites, ConnectionAbsolutePositionsAndCycles) {
  ApiHandle* top = Sprite();
  ApiHandle* mid = Sprite();
  ApiHandle* leaf = Sprite();
  ovtsSetSpritePos(top, 100, 200);
  ovtsSetSpritePos(mid, 10, 20);
  ovtsSetSpritePos(leaf, 1, 2);
  ovtsConnectSprite(mid, top);
  ovtsConnectSprite(leaf, mid);
  OvPoint p = ovtsGetSpriteAbsPos(leaf);
  EXPECT_EQ(p.x, 111);
  EXPECT_EQ(p.y, 222);
  ovtsConnectSprite(top, leaf);  // a cycle: refused, top keeps no parent
  EXPECT_EQ(Of(top)->GetParent(), nullptr);
  EXPECT_EQ(ovtsGetSpriteAbsPos(top).x, 100);
  ovtsConnectSprite(leaf, image_);  // not a sprite: nothing changes
  EXPECT_EQ(ovtsGetSpriteAbsPos(leaf).x, 111);
  ovtsConnectSprite(leaf, nullptr);
  EXPECT_EQ(ovtsGetSpriteAbsPos(leaf).x, 1);
  // Sums beyond 32 bits saturate.
  ovtsSetSpritePos(top, INT_MAX, INT_MIN);
  ovtsSetSpritePos(mid, INT_MAX, INT_MIN);
  p = ovtsGetSpriteAbsPos(mid);
  EXPECT_EQ(p.x, INT_MAX);
  EXPECT_EQ(p.y, INT_MIN);
}

TEST_F(TssSprites, WipesAttachDetachAndIgnoreBadDirections) {
  scratch_.Write("w.bmp", Bmp(1, 1, {0x808080}));
  ApiHandle* wipe = ovtsLoadWipe("w.bmp");
  ASSERT_NE(wipe, nullptr);
  ApiHandle* s = Sprite();
  DRef<DtssWipe> w = TssWipeOf(wipe, "test");
  ovtsSetSpriteWipe(s, wipe, 1);
  EXPECT_EQ(Of(s)->GetWipe(), w.Get());
  EXPECT_EQ(Of(s)->GetWipeDirection(), 1);
  ovtsSetSpriteWipe(s, wipe, 2);
  ovtsSetSpriteWipe(s, image_, 0);  // not a wipe
  EXPECT_EQ(Of(s)->GetWipe(), w.Get());
  EXPECT_EQ(Of(s)->GetWipeDirection(), 1);
  ovtsDestroyWipe(wipe);  // the unit and the sprite keep it
  EXPECT_EQ(Of(s)->GetWipe(), w.Get());
  ovtsSetSpriteWipe(s, nullptr, 0);
  EXPECT_EQ(Of(s)->GetWipe(), nullptr);
}

TEST_F(TssSprites, ASpriteKeepsItsImageAndHandlesRespectKindsAndShutdown) {
  ApiHandle* own = ovtsCreateImage(2, 2);
  ovtsFillImage(own, 0, 0, 1, 1);
  ApiHandle* s = ovtsCreateSprite(own, 0, 0);
  ASSERT_NE(s, nullptr);
  ovtsDestroyImage(own);
  ASSERT_EQ(ovtsRender(), 1);
  EXPECT_EQ(Back()[0], 0x0000FFu);
  // Another kind and null: failure values, nothing changes.
  EXPECT_EQ(ovtsIsSpriteDraw(image_), 0);
  EXPECT_EQ(ovtsSetSpriteLevel(image_, 2), 0);
  EXPECT_EQ(ovtsGetSpritePos(nullptr).x, 0);
  ovtsDestroySprite(image_);
  EXPECT_EQ(ovtsGetImageSize(image_).width, 32);
  ovtsSetSpritePos(nullptr, 1, 1);
  // Draw mode: nothing, handles kept.
  SetStartupFlags(0);
  EXPECT_EQ(ovtsIsSpriteDraw(s), 0);
  EXPECT_EQ(ovtsCreateSprite(image_, 0, 0), nullptr);
  ovtsDestroySprite(s);
  SetStartupFlags(kStartupTss);
  EXPECT_EQ(ovtsIsSpriteDraw(s), 1);
  // After the unit ends the sprite's handle does nothing and is freed cleanly.
  TssManager().Destroy();
  EXPECT_EQ(ovtsIsSpriteDraw(s), 0);
  ovtsSetSpritePos(s, 5, 5);
  ovtsRotateSpriteZ(s, 5);
  EXPECT_EQ(ovtsGetSpriteAbsPos(s).x, 0);
  ovtsDestroySprite(s);
}

}  // namespace
