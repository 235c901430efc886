// TSS sprites turned about a pivot, placed by free corners, tiled under a wipe's mask or faded by
// its level, and the wipes themselves: their masks, textures, levels and users.
#include "display/tss/dtss_wipe.h"

#include <cmath>
#include <limits>

#include "tests/display/tss_fixture.h"
#include "tests/support/raster_reference.h"

namespace {

using namespace tss_test;
using orvane::dx::DeviceProfile;
using orvane::dx::TexFormat;

class TssWipe : public Tss {
 protected:
  // A wipe of a w x h pattern whose green is g(x, y).
  template <class F>
  DRef<DtssWipe> Wipe(uint32_t w, uint32_t h, F g) {
    DImage src;
    MakeSource(&src, w, h, [&](uint32_t x, uint32_t y) { return 0xFF000000u | (g(x, y) & 255u) << 8; });
    return manager_.LoadWipe(src);
  }
  DRef<DtssSprite> Sprite(DtssImage* image, int32_t x, int32_t y, int32_t w, int32_t h, int32_t level = 1) {
    DRef<DtssSprite> s = manager_.CreateSprite(image, level);
    s->SetPos(x, y);
    s->SetSize(w, h);
    s->SetDraw(true);
    return s;
  }
  static void SingleTexture() {
    DeviceProfile p = orvane::dx::Profile();
    p.max_textures = 1;
    orvane::dx::SetProfile(p);
  }
  // Draw calls of the call log as "vertices indices".
  static std::vector<std::string> Draws() {
    std::vector<std::string> out;
    for (const std::string& l : orvane::dx::TakeCallLog())
      if (l.compare(0, 21, "DrawIndexedPrimitive ") == 0) out.push_back(l.substr(21));
    return out;
  }
};

// ---- Rotation and pivot.

TEST_F(TssWipe, RotationTurnsAboutThePivot) {
  ASSERT_TRUE(Start(64, 48, 0x18));  // no half-pixel offset: vertices are exact
  DRef<DtssImage> img = Image(4, 4);
  DRef<DtssSprite> s = Sprite(img.Get(), 10, 20, 20, 10);
  struct Case {
    const char* name;
    float pivot_x, pivot_y;
    char axis;
    float degrees;
    float want[4][2];  // TL, TR, BL, BR, absolute
  } cases[] = {
      {"Z 90 about the centre", 0.5f, 0.5f, 'Z', 90, {{25, 15}, {25, 35}, {15, 15}, {15, 35}}},
      {"Z 90 about the top-left", 0, 0, 'Z', 90, {{10, 20}, {10, 40}, {0, 20}, {0, 40}}},
      {"X 60 halves the height", 0.5f, 0.5f, 'X', 60, {{10, 22.5f}, {30, 22.5f}, {10, 27.5f}, {30, 27.5f}}},
      {"Y 180 mirrors", 0.5f, 0.5f, 'Y', 180, {{30, 20}, {10, 20}, {30, 30}, {10, 30}}},
      {"Y 180 about the left edge", 0, 0, 'Y', 180, {{10, 20}, {-10, 20}, {10, 30}, {-10, 30}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    s->ResetRotation();
    s->SetPivot(c.pivot_x, c.pivot_y);
    if (c.axis == 'X') s->RotateX(c.degrees);
    if (c.axis == 'Y') s->RotateY(c.degrees);
    if (c.axis == 'Z') s->RotateZ(c.degrees);
    EXPECT_TRUE(s->GetFlags() & DtssSprite::kRotated);
    ASSERT_TRUE(manager_.Render());
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(s->GetVertices()[i].x, c.want[i][0], 1e-4) << i;
      EXPECT_NEAR(s->GetVertices()[i].y, c.want[i][1], 1e-4) << i;
    }
  }
  // Two turns of 45 equal one of 90 within float error; none restores the plain quad.
  s->ResetRotation();
  s->SetPivot(0.5f, 0.5f);
  s->RotateZ(45);
  s->RotateZ(45);
  ASSERT_TRUE(manager_.Render());
  EXPECT_NEAR(s->GetVertices()[0].x, 25, 1e-4);
  EXPECT_NEAR(s->GetVertices()[0].y, 15, 1e-4);
  s->ResetRotation();
  EXPECT_FALSE(s->GetFlags() & DtssSprite::kRotated);
  EXPECT_TRUE(s->GetFlags() & DtssSprite::kRebuild);
  ASSERT_TRUE(manager_.Render());
  EXPECT_FLOAT_EQ(s->GetVertices()[3].x, 30);
  EXPECT_FLOAT_EQ(s->GetVertices()[3].y, 30);
  // Non-finite angles and pivots make non-finite vertices, which the rasterizer skips.
  std::vector<uint32_t> before = Back();
  s->SetBlend(0);
  s->RotateZ(std::numeric_limits<float>::infinity());
  ASSERT_TRUE(manager_.Render());
  EXPECT_FALSE(std::isfinite(s->GetVertices()[0].x));
  s->ResetRotation();
  s->SetPivot(std::numeric_limits<float>::quiet_NaN(), 0);
  s->RotateZ(10);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back(), before);
}

// ---- Free corners.

TEST_F(TssWipe, FreeCornersIgnoreSizeMapRotationAndTilingAndFade) {
  ASSERT_TRUE(Start(32, 32, 0x18));
  DImage src;
  MakeSource(&src, 8, 8, [](uint32_t x, uint32_t y) { return 0xFF000000u | x * 30 << 16 | y * 30; });
  DRef<DtssImage> img = manager_.CreateImage(src, 0, 0);
  DRef<DtssWipe> wipe = Wipe(4, 4, [](uint32_t x, uint32_t) { return x * 80; });
  DRef<DtssSprite> s = Sprite(img.Get(), 4, 2, 3, 3);
  s->SetMap(1, 1, 2, 2);
  s->SetPivot(0.5f, 0.5f);
  s->RotateZ(33);
  s->SetWipe(wipe.Get(), 1);
  wipe->SetLevel(51);
  s->SetFreeCornerMode(true);
  const float pos[4][2] = {{0, 0}, {20, 2}, {1, 18}, {24, 24}};
  const int32_t map[4][2] = {{0, 0}, {8, 0}, {0, 8}, {8, 8}};
  for (int i = 0; i < 4; ++i) {
    s->SetFreeCornerPos(i, pos[i][0], pos[i][1]);
    s->SetFreeCornerMap(i, map[i][0], map[i][1]);
  }
  s->SetFreeCornerPos(4, 99, 99);  // ignored
  orvane::dx::TakeCallLog();
  ASSERT_TRUE(manager_.Render());
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "SetTexture 1 #"), 0);  // faded, even with two textures
  EXPECT_EQ(CountPrefix(log, "DrawIndexedPrimitive 4 6"), 1);
  const DtssVertex* v = s->GetVertices();
  for (int i = 0; i < 4; ++i) {
    EXPECT_FLOAT_EQ(v[i].x, pos[i][0] + 4) << i;  // offsets from the absolute position
    EXPECT_FLOAT_EQ(v[i].y, pos[i][1] + 2) << i;
    EXPECT_FLOAT_EQ(v[i].tu0, map[i][0] / 8.0f) << i;
    EXPECT_EQ(v[i].diffuse, 0x33333333u) << i;  // level 51, direction 1: 51 in every channel
  }
  // The frame: the two triangles TL, TR, BL / BL, TR, BR from the reference.
  std::vector<uint32_t> tex = ReadSurface(img->GetTexture());
  raster_reference::RasterState st{};
  st.tex[0] = {reinterpret_cast<const uint8_t*>(tex.data()), 32, 8, 8, orvane::raster::PixelKind::kA8R8G8B8};
  st.stage_enabled[0] = st.stage_enabled[1] = true;
  std::vector<uint32_t> want(32 * 32, 0);
  raster_reference::RasterTarget t{reinterpret_cast<uint8_t*>(want.data()), 128, 32, 32,
                                   orvane::raster::PixelKind::kX8R8G8B8};
  std::vector<raster_reference::RasterVertex> rv(4);
  std::memcpy(rv.data(), v, sizeof(DtssVertex) * 4);
  const uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
  raster_reference::Reference(t, st, rv.data(), 4, idx, 6);
  std::vector<uint32_t> back = Back();
  EXPECT_EQ(back, want);
  // The diagonal BL-TR is shared: pixels along it are drawn, and the far corners stay empty.
  EXPECT_NE(back[10 * 32 + 15], 0u);
  EXPECT_EQ(back[31 * 32 + 0], 0u);
}

// ---- Tiling.

TEST_F(TssWipe, TilesKeepThePatternAnchoredToTheScreen) {
  struct Case {
    const char* name;
    int32_t x, w, pattern_w;
    bool pow2;
    std::vector<float> edges, tu1;  // per column: left, right
  } cases[] = {
      {"x 10", 10, 100, 64, false, {0, 54, 54, 100}, {10 / 64.f, 1, 0, 46 / 64.f}},
      {"x -10", -10, 100, 64, false, {0, 74, 74, 100}, {-10 / 64.f, 1, 0, 26 / 64.f}},
      {"narrow crossing a period", 50, 30, 64, false, {0, 14, 14, 30}, {50 / 64.f, 1, 0, 16 / 64.f}},
      {"narrow inside a period", 70, 30, 64, false, {0, 30}, {6 / 64.f, 36 / 64.f}},
      {"wider than the sprite at 0", 0, 100, 128, false, {0, 100}, {0, 100 / 128.f}},
      {"padded to a power of two",
       10,
       100,
       50,
       true,
       {0, 40, 40, 90, 90, 100},
       {(50 - 40) / 64.f, 50 / 64.f, 0, 50 / 64.f, 0, 10 / 64.f}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    orvane::dx::Reset();
    DeviceProfile p = orvane::dx::Profile();
    p.pow2 = c.pow2;
    orvane::dx::SetProfile(p);
    ASSERT_TRUE(Start(160, 80, 0x18));
    {
      DRef<DtssImage> img = Image(16, 16);
      DRef<DtssWipe> wipe = Wipe(c.pattern_w, 64, [](uint32_t x, uint32_t) { return x; });
      DRef<DtssSprite> s = Sprite(img.Get(), c.x, 0, c.w, 50);
      s->SetWipe(wipe.Get(), 0);
      orvane::dx::TakeCallLog();
      ASSERT_TRUE(manager_.Render());
      const size_t columns = c.edges.size() / 2;
      EXPECT_EQ(s->GetColumns(), columns);
      EXPECT_EQ(s->GetRows(), 1u);
      EXPECT_EQ(Draws(),
                std::vector<std::string>{std::to_string(columns * 4) + " " + std::to_string(columns * 6)});
      const DtssVertex* v = s->GetVertices();
      for (size_t col = 0; col < columns; ++col)
        for (int side = 0; side < 2; ++side)
          for (int row = 0; row < 2; ++row) {
            const DtssVertex& e = v[col * 4 + row * 2 + side];
            EXPECT_FLOAT_EQ(e.x - c.x, c.edges[col * 2 + side]) << col << side;
            EXPECT_NEAR(e.tu1, c.tu1[col * 2 + side], 1e-6) << col << side;
            EXPECT_FLOAT_EQ(e.tv1, row ? 50 / 64.f : 0) << col;
          }
      // The first pixel of each column reads the pattern column of its screen x.
      for (size_t col = 0; col < columns; ++col) {
        const DtssVertex& e = v[col * 4];
        const float pattern_x = e.tu1 * static_cast<float>(wipe->GetTextureSize().x);
        EXPECT_NEAR(std::fmod(pattern_x - e.x + 1024.0f * c.pattern_w, static_cast<float>(c.pattern_w)), 0,
                    1e-3)
            << col;
      }
    }
    manager_.Destroy();
  }
}

TEST_F(TssWipe, ManyTilesAreHandedOverInCallsOf256AndCappedAbove65536) {
  ASSERT_TRUE(Start(640, 480, 0x18));
  DRef<DtssImage> img = Image(16, 16);
  DRef<DtssWipe> wipe = Wipe(16, 16, [](uint32_t x, uint32_t y) { return x * 16 + y; });
  DRef<DtssSprite> s = Sprite(img.Get(), 0, 0, 640, 480);
  s->SetBlend(1);
  s->SetWipe(wipe.Get(), 1);
  wipe->SetLevel(128);
  orvane::dx::TakeCallLog();
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(s->GetColumns() * s->GetRows(), 1200u);
  EXPECT_EQ(Draws(),
            (std::vector<std::string>{"1024 1536", "1024 1536", "1024 1536", "1024 1536", "704 1056"}));
  // Every screen pixel shows mask B of its pattern value: x % 16 * 16 + y % 16 <= 128.
  std::vector<uint32_t> back = Back();
  int wrong = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      bool shown = (x % 16) * 16 + (y % 16) <= 128;
      wrong += back[y * 640 + x] != (shown ? 0xFFFFFFu : 0u);
    }
  EXPECT_EQ(wrong, 0);

  // A 1x1 pattern over 640 x 480 tiles 307200 times: the sprite fades instead, logged once.
  LogCapture log;
  DRef<DtssWipe> dot = Wipe(1, 1, [](uint32_t, uint32_t) { return 0; });
  s->SetWipe(dot.Get(), 1);
  dot->SetLevel(255);
  ASSERT_TRUE(manager_.Render());
  s->SetPos(1, 0);
  ASSERT_TRUE(manager_.Render());
  std::vector<std::string> draws = Draws();
  EXPECT_EQ(draws, (std::vector<std::string>{"4 6", "4 6"}));
  EXPECT_EQ(s->GetVertices()[0].diffuse, 0xFFFFFFFFu);
  std::string text = log.Text();
  EXPECT_NE(text.find("307200 wipe tiles"), std::string::npos) << text;
  EXPECT_EQ(text.find("wipe tiles"), text.rfind("wipe tiles"));
}

// ---- Fade.

TEST_F(TssWipe, FadeFollowsTheLevelInBothDirectionsAndSurvivesARebuild) {
  SingleTexture();
  ASSERT_TRUE(Start(16, 16, 0x18));
  ASSERT_FALSE(manager_.IsMultitexture());
  DRef<DtssImage> img = Image(4, 4);
  DRef<DtssWipe> wipe = Wipe(8, 8, [](uint32_t x, uint32_t) { return x; });
  EXPECT_EQ(wipe->GetMask(), nullptr);  // no surfaces without multitexture
  DRef<DtssSprite> s = Sprite(img.Get(), 0, 0, 4, 4);
  for (int dir = 0; dir < 2; ++dir) {
    s->SetWipe(wipe.Get(), dir);
    for (uint32_t level = 0; level < 256; ++level) {
      wipe->SetLevel(level);
      ASSERT_TRUE(manager_.Render());
      uint32_t c = dir ? level : 255 - level;
      ASSERT_EQ(s->GetVertices()[2].diffuse, c * 0x01010101u) << dir << " " << level;
      ASSERT_EQ(s->GetAppliedWipeLevel(), static_cast<int32_t>(level));
    }
  }
  // White opaque at level 64, direction 0: 191 everywhere; a move keeps the fade.
  s->SetWipe(wipe.Get(), 0);
  wipe->SetLevel(64);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(s->GetVertices()[0].diffuse, 0xBFBFBFBFu);
  s->SetPos(3, 3);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(s->GetVertices()[0].diffuse, 0xBFBFBFBFu);
  EXPECT_EQ(Back()[4 * 16 + 4], 0xBFBFBFu);
  // Detaching gives the plain colours back.
  s->SetWipe(nullptr, 0);
  EXPECT_EQ(s->GetWipe(), nullptr);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(s->GetVertices()[0].diffuse, 0xFFFFFFFFu);
}

// ---- Wipes.

TEST_F(TssWipe, MaskTableInBothFormats) {
  const uint32_t values[] = {0, 1, 15, 16, 17, 31, 32, 63, 64, 65, 127, 128, 253, 254, 255, 0xF0, 0xEF};
  const uint32_t levels[] = {0, 1, 15, 16, 31, 64, 254, 255};
  for (bool sixteen : {false, true}) {
    SCOPED_TRACE(sixteen ? "format 5" : "format 2");
    orvane::dx::Reset();
    if (sixteen) {
      DeviceProfile p = orvane::dx::Profile();
      p.texture_formats = {TexFormat::kA4R4G4B4, TexFormat::kR5G6B5};
      orvane::dx::SetProfile(p);
    }
    ASSERT_TRUE(Start(16, 16));
    ASSERT_EQ(manager_.GetTextureFormat(), sixteen ? 5u : 2u);
    const uint32_t n = sizeof values / sizeof values[0];
    DRef<DtssWipe> wipe = Wipe(n, 1, [&](uint32_t x, uint32_t) { return values[x]; });
    ASSERT_TRUE(wipe);
    EXPECT_EQ(wipe->GetLevel(), 0u);
    int w = 0;
    ReadSurface(wipe->GetMaskA(), &w);
    EXPECT_EQ(w, 20);  // 17 rounded up to a multiple of 4
    for (uint32_t level : levels) {
      wipe->SetLevel(level);
      std::vector<uint32_t> a = ReadSurface(wipe->GetMaskA()), b = ReadSurface(wipe->GetMaskB());
      for (uint32_t x = 0; x < n; ++x) {
        uint32_t v = sixteen ? values[x] >> 4 : values[x], l = sixteen ? level >> 4 : level;
        uint32_t shown = sixteen ? 0xFFFF : 0xFFFFFFFF, hidden = sixteen ? 0x0FFF : 0x00FFFFFF;
        EXPECT_EQ(a[x], v >= l ? shown : hidden) << "level " << level << " value " << values[x];
        EXPECT_EQ(b[x], v <= l ? shown : hidden) << "level " << level << " value " << values[x];
      }
    }
    // 0x10..0x1F give one mask in format 5; the current level marks nothing.
    wipe->SetLevel(0x10);
    std::vector<uint32_t> at16 = ReadSurface(wipe->GetMaskA());
    wipe->SetLevel(0x1F);
    EXPECT_EQ(ReadSurface(wipe->GetMaskA()) == at16, sixteen);
    DRef<DtssImage> img = Image(2, 2);
    DRef<DtssSprite> s = Sprite(img.Get(), 0, 0, 2, 2);
    s->SetWipe(wipe.Get(), 0);
    ASSERT_TRUE(manager_.Render());
    EXPECT_FALSE(wipe->IsDirty());
    EXPECT_EQ(manager_.GetWipesDirty(), 0u);
    wipe->SetLevel(0x1F);
    EXPECT_FALSE(wipe->IsDirty());
    EXPECT_EQ(manager_.GetWipesDirty(), 0u);
    wipe->SetLevel(300);  // above 255: 255
    EXPECT_EQ(wipe->GetLevel(), 255u);
    EXPECT_TRUE(wipe->IsDirty());
    manager_.Destroy();
  }
}

TEST_F(TssWipe, FractionsBecomeLevelsClampedFirst) {
  const struct {
    float v;
    uint32_t level;
  } rows[] = {{0.25f, 64},
              {0.002f, 1},
              {0.0f, 0},
              {1.0f, 255},
              {1.5f, 255},
              {-0.1f, 0},
              {-1e30f, 0},
              {std::numeric_limits<float>::quiet_NaN(), 0},
              {std::numeric_limits<float>::infinity(), 255}};
  for (const auto& r : rows) EXPECT_EQ(DtssWipeLevelFromFraction(r.v), r.level) << r.v;
}

TEST_F(TssWipe, TexturesRepeatTheEdgeAndComeBackAfterLossAndRestore) {
  DeviceProfile p = orvane::dx::Profile();
  p.pow2 = true;
  orvane::dx::SetProfile(p);
  ASSERT_TRUE(Start(32, 32));
  auto g = [](uint32_t x, uint32_t y) { return (x * 7 + y * 13) & 255; };
  DRef<DtssWipe> wipe = Wipe(101, 60, g);
  int mw = 0, mh = 0;
  ReadSurface(wipe->GetMask(), &mw, &mh);
  EXPECT_EQ(mw, 104);
  EXPECT_EQ(mh, 60);
  EXPECT_EQ(wipe->GetTextureA(), nullptr);  // none until a sprite uses the wipe
  DRef<DtssImage> img = Image(2, 2);
  DRef<DtssSprite> s = Sprite(img.Get(), 0, 0, 8, 8);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(wipe->GetTextureA(), nullptr);
  s->SetWipe(wipe.Get(), 0);
  EXPECT_EQ(manager_.GetWipesDirty(), 1u);  // the first user marks the wipes
  wipe->SetLevel(100);
  ASSERT_TRUE(manager_.Render());
  auto check = [&](IDirectDrawSurface7* tex, bool a) {
    int tw = 0, th = 0;
    std::vector<uint32_t> t = ReadSurface(tex, &tw, &th);
    ASSERT_EQ(tw, 128);
    ASSERT_EQ(th, 64);
    auto want = [&](uint32_t x, uint32_t y) {
      uint32_t v = g(x, y);
      return (a ? v >= 100 : v <= 100) ? 0xFFFFFFFFu : 0x00FFFFFFu;
    };
    int wrong = 0;
    for (uint32_t y = 0; y < 60; ++y) {
      for (uint32_t x = 0; x < 101; ++x) wrong += t[y * 128 + x] != want(x, y);
      wrong += t[y * 128 + 101] != want(100, y);
    }
    for (uint32_t x = 0; x < 101; ++x) wrong += t[60 * 128 + x] != want(x, 59);
    wrong += t[60 * 128 + 101] != want(100, 59);
    EXPECT_EQ(wrong, 0);
  };
  check(wipe->GetTextureA(), true);
  check(wipe->GetTextureB(), false);
  EXPECT_FALSE(wipe->IsDirty());
  // Lost surfaces: the textures are restored and filled again at the next render.
  orvane::dx::LoseSurfaces();
  ASSERT_TRUE(manager_.Render());
  check(wipe->GetTextureA(), true);
  // A failing restore drops them; the next render makes new ones.
  orvane::dx::LoseSurfaces();
  orvane::dx::SetRestoreFails(true);
  ASSERT_TRUE(manager_.Render());
  orvane::dx::SetRestoreFails(false);
  ASSERT_TRUE(manager_.Render());
  ASSERT_TRUE(manager_.Render());
  check(wipe->GetTextureA(), true);
  check(wipe->GetTextureB(), false);
  // A texture that cannot be made fails the render until it can.
  wipe->_ReleaseTextures();
  manager_.SetWipesDirty();
  orvane::dx::FailCall("CreateSurface", 3);  // three tries, textures freed between them
  EXPECT_FALSE(manager_.Render());
  EXPECT_EQ(manager_.GetWipesDirty(), 1u);
  EXPECT_TRUE(manager_.Render());
  check(wipe->GetTextureB(), false);
}

TEST_F(TssWipe, ReleaseDetachesUsersAndLoadRefusesTwiceAndEmptySources) {
  ASSERT_TRUE(Start(16, 16));
  DRef<DtssWipe> wipe = Wipe(4, 4, [](uint32_t x, uint32_t) { return x; });
  DImage src;
  MakeSource(&src, 4, 4, [](uint32_t, uint32_t) { return 0u; });
  EXPECT_FALSE(wipe->Load(&manager_, src));  // already loaded
  DImage empty;
  EXPECT_FALSE(manager_.LoadWipe(empty));
  DRef<DtssImage> img = Image(2, 2);
  DRef<DtssSprite> a = Sprite(img.Get(), 0, 0, 2, 2), b = Sprite(img.Get(), 2, 0, 2, 2);
  a->SetWipe(wipe.Get(), 0);
  b->SetWipe(wipe.Get(), 1);
  a->SetWipe(wipe.Get(), 1);  // again: listed once
  EXPECT_EQ(a->GetWipeDirection(), 1);
  a->SetWipe(wipe.Get(), 2);  // other directions do nothing
  EXPECT_EQ(a->GetWipe(), wipe.Get());
  ASSERT_TRUE(manager_.Render());
  EXPECT_FALSE(a->GetFlags() & DtssSprite::kRebuild);
  DtssWipe* raw = wipe.Get();
  wipe->Release();
  EXPECT_FALSE(wipe->IsLoaded());
  for (DtssSprite* s : {a.Get(), b.Get()}) {
    EXPECT_EQ(s->GetWipe(), nullptr);
    EXPECT_TRUE(s->GetFlags() & DtssSprite::kRebuild);
  }
  EXPECT_FALSE(manager_._FindWipe(raw));
  a->SetWipe(raw, 0);  // not listed any more: no wipe
  EXPECT_EQ(a->GetWipe(), nullptr);
  ASSERT_TRUE(manager_.Render());
  manager_.Destroy();
  SingleTexture();
  ASSERT_TRUE(Start(16, 16));
  EXPECT_FALSE(manager_.IsMultitexture());
  EXPECT_FALSE(manager_.LoadWipe(empty));
  // A sprite released while attached leaves the user list; a wipe released by Destroy detaches.
  DRef<DtssWipe> w2 = Wipe(2, 2, [](uint32_t, uint32_t) { return 9; });
  DRef<DtssImage> img2 = Image(2, 2);
  DRef<DtssSprite> c = Sprite(img2.Get(), 0, 0, 2, 2);
  c->SetWipe(w2.Get(), 0);
  EXPECT_TRUE(w2->IsUsed());
  c.Release();
  EXPECT_FALSE(w2->IsUsed());
  DRef<DtssSprite> d = Sprite(img2.Get(), 0, 0, 2, 2);
  d->SetWipe(w2.Get(), 0);
  manager_.Destroy();
  EXPECT_FALSE(w2->IsLoaded());
}

// ---- Golden frames of a full-screen transition.

TEST_F(TssWipe, GoldenTransitionFrames) {
  auto g = [](uint32_t x, uint32_t y) { return (x * 5 + y * 11) & 255; };
  for (bool two : {true, false}) {
    for (int dir = 0; dir < 2; ++dir) {
      for (uint32_t level : {0u, 64u, 128u, 255u}) {
        SCOPED_TRACE(std::string(two ? "two textures" : "one texture") + " direction " + std::to_string(dir) +
                     " level " + std::to_string(level));
        orvane::dx::Reset();
        if (!two) SingleTexture();
        ASSERT_TRUE(Start(40, 24));
        {
          DRef<DtssImage> back = Image(4, 4, 0xFF0000FF), front = Image(4, 4, 0xFFFF8000);
          DRef<DtssSprite> under = Sprite(back.Get(), 0, 0, 40, 24, 0);
          DRef<DtssSprite> over = Sprite(front.Get(), 0, 0, 40, 24, 1);
          DRef<DtssWipe> wipe = Wipe(16, 16, g);
          over->SetWipe(wipe.Get(), dir);
          over->SetBlend(1);
          wipe->SetLevel(level);
          ASSERT_TRUE(manager_.Render());
          std::vector<uint32_t> frame = Back();
          // The reference: the blue quad, then the orange one with its stage-1 mask or faded colours.
          std::vector<uint32_t> want(40 * 24, 0);
          raster_reference::RasterTarget t{reinterpret_cast<uint8_t*>(want.data()), 160, 40, 24,
                                           orvane::raster::PixelKind::kX8R8G8B8};
          const uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
          for (DtssSprite* s : {under.Get(), over.Get()}) {
            std::vector<uint32_t> tex0 = ReadSurface(s->GetImage()->GetTexture()), tex1;
            raster_reference::RasterState st{};
            st.stage_enabled[0] = st.stage_enabled[1] = true;
            st.tex[0] = {reinterpret_cast<const uint8_t*>(tex0.data()), 16, 4, 4,
                         orvane::raster::PixelKind::kA8R8G8B8};
            if (s == over.Get()) {
              st.blend = true;
              st.src_blend = orvane::raster::kBlendSrcAlpha;
              st.dst_blend = orvane::raster::kBlendInvSrcAlpha;
            }
            if (s == over.Get() && two) {
              tex1 = ReadSurface(dir ? wipe->GetTextureB() : wipe->GetTextureA());
              st.tex[1] = {reinterpret_cast<const uint8_t*>(tex1.data()), 64, 16, 16,
                           orvane::raster::PixelKind::kA8R8G8B8};
            }
            uint32_t nv = s->GetVertexCount();
            std::vector<raster_reference::RasterVertex> rv(nv);
            std::memcpy(rv.data(), s->GetVertices(), sizeof(DtssVertex) * nv);
            for (uint32_t q = 0; q < nv / 4; ++q) raster_reference::Reference(t, st, &rv[q * 4], 4, idx, 6);
          }
          EXPECT_EQ(frame, want);
          // And what the transition means: with the mask each pixel is the incoming or the
          // outgoing picture by its pattern value; the fade mixes them evenly.
          int wrong = 0;
          for (uint32_t y = 0; y < 24; ++y)
            for (uint32_t x = 0; x < 40; ++x) {
              const uint32_t v = g(x % 16, y % 16);
              bool shown = dir ? v <= level : v >= level;
              if (two)
                wrong += frame[y * 40 + x] != (shown ? 0xFF8000u : 0x0000FFu);
              else
                wrong += frame[y * 40 + x] != frame[0];
            }
          EXPECT_EQ(wrong, 0);
          const uint32_t f = dir ? level : 255 - level;
          if (!two && (f == 0 || f == 255)) {
            EXPECT_EQ(frame[0], f ? 0xFF8000u : 0x0000FFu);
          }
        }
        manager_.Destroy();
      }
    }
  }
}

}  // namespace
