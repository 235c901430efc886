// The TSS renderer: level lists, the batcher and its state cache, render, present, eviction and
// frame capture.
#include "tss_fixture.h"

using namespace tss_test;

namespace {

class TssRender : public Tss {
 protected:
  DRef<DtssSprite> Shown(DtssImage* image, int32_t level, int32_t x = 0, int32_t y = 0) {
    DRef<DtssSprite> s = manager_.CreateSprite(image, level);
    EXPECT_TRUE(s);
    if (!s) return s;
    s->SetPos(x, y);
    s->SetDraw(true);
    return s;
  }
};

TEST_F(TssRender, EmptyFrameStillRunsASceneAndTheBackBufferIsNeverCleared) {
  ASSERT_TRUE(Start(8, 8));
  orvane::dx::TakeCallLog();
  ASSERT_TRUE(manager_.Render());
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "BeginScene"), 1);
  EXPECT_EQ(CountPrefix(log, "EndScene"), 1);
  EXPECT_EQ(CountPrefix(log, "DrawIndexedPrimitive"), 0);
  DRef<DtssImage> red = Image(2, 2, 0xFFFF0000);
  DRef<DtssSprite> s = Shown(red.Get(), 0);
  ASSERT_TRUE(manager_.Render());
  s->SetPos(4, 4);
  ASSERT_TRUE(manager_.Render());
  std::vector<uint32_t> back = Back();
  EXPECT_EQ(back[0], 0xFF0000u);  // the old frame stays where nothing draws
  EXPECT_EQ(back[4 * 8 + 4], 0xFF0000u);
  EXPECT_EQ(back[2 * 8 + 2], 0u);
}

TEST_F(TssRender, LevelTableSkipsAndBounds) {
  ASSERT_TRUE(Start(8, 8));
  DRef<DtssImage> img = Image(1, 1);
  DRef<DtssSprite> a = Shown(img.Get(), 3), b = Shown(img.Get(), 700);
  EXPECT_EQ(manager_.LevelCount(), 768u);
  EXPECT_EQ(manager_.LevelSkip(0), 3u);
  EXPECT_EQ(manager_.LevelSkip(3), 697u);
  EXPECT_EQ(manager_.LevelSkip(700), 68u);
  DRef<DtssSprite> c = Shown(img.Get(), 2), d = Shown(img.Get(), 5), e = Shown(img.Get(), 9);
  EXPECT_EQ(manager_.LevelSkip(2), 1u);
  d->SetDraw(false);
  EXPECT_EQ(manager_.LevelSkip(3), 6u);
  a->SetDraw(false);
  EXPECT_EQ(manager_.LevelSkip(2), 7u);
  EXPECT_EQ(manager_.LevelSkip(0), 2u);
  // Levels out of 0..65535 are refused and leave the sprite out of the lists; -2 must not wrap
  // the table size to 0, 65536 must not grow it.
  for (int32_t bad : {-1, -2, 65536, INT32_MIN}) {
    EXPECT_FALSE(e->SetLevel(bad)) << bad;
    EXPECT_EQ(manager_.LevelCount(), 768u);
    EXPECT_EQ(manager_.LevelSkip(2), 698u) << bad;  // 9 is gone: 2 runs to 700
  }
  EXPECT_TRUE(e->SetLevel(65535));
  EXPECT_EQ(manager_.LevelCount(), 65536u);
  EXPECT_EQ(manager_.CreateSprite(img.Get(), -1).Get(), nullptr);
  ASSERT_TRUE(manager_.Render());
}

TEST_F(TssRender, DrawOrderWithinALevelAndResettingTheSameLevel) {
  ASSERT_TRUE(Start(4, 4));
  DRef<DtssImage> red = Image(4, 4, 0xFFFF0000), blue = Image(4, 4, 0xFF0000FF);
  DRef<DtssSprite> r = Shown(red.Get(), 1), b = Shown(blue.Get(), 1);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[5], 0x0000FFu);
  EXPECT_TRUE(manager_.SetSpriteLevel(r.Get(), 1));  // the same level again: drawn last
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[5], 0xFF0000u);
  EXPECT_TRUE(b->SetLevel(1));  // unchanged through the sprite: nothing moves
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[5], 0xFF0000u);
  EXPECT_TRUE(b->SetLevel(0));
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[5], 0xFF0000u);
}

TEST_F(TssRender, ThreeHundredQuadsMakeTwoDrawsAndAlternatingTexturesOneEach) {
  ASSERT_TRUE(Start(16, 16));
  DRef<DtssImage> a = Image(1, 1, 0xFF00FF00), b = Image(1, 1, 0xFF00FFFF);
  std::vector<DRef<DtssSprite>> sprites;
  for (int i = 0; i < 300; ++i) sprites.push_back(Shown(a.Get(), 0, i % 16, i / 16 % 16));
  ASSERT_TRUE(manager_.Render());
  orvane::dx::TakeCallLog();
  ASSERT_TRUE(manager_.Render());
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  std::vector<std::string> draws;
  for (auto& l : log)
    if (l.rfind("DrawIndexedPrimitive", 0) == 0) draws.push_back(l);
  EXPECT_EQ(draws,
            (std::vector<std::string>{"DrawIndexedPrimitive 1024 1536", "DrawIndexedPrimitive 176 264"}));
  sprites.clear();
  for (int i = 0; i < 6; ++i) sprites.push_back(Shown((i & 1 ? b : a).Get(), 0));
  ASSERT_TRUE(manager_.Render());
  log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "DrawIndexedPrimitive 4 6"), 6);
  EXPECT_EQ(CountPrefix(log, "SetTexture 0"), 5);  // the first is still set
}

TEST_F(TssRender, InitOrderAndAlphaTestTransitionsFromTheCallLog) {
  ASSERT_TRUE(Start(8, 8));
  DRef<DtssImage> img = Image(1, 1);
  DRef<DtssSprite> s = Shown(img.Get(), 0);
  s->SetBlend(1);
  s->SetAlphaTest(0.5f);
  ASSERT_TRUE(manager_.Render());
  // A reset sends every fixed state again, then the remembered blend mode and reference in full.
  orvane::dx::LoseSurfaces();
  orvane::dx::SetRestoreFails(true);
  orvane::dx::TakeCallLog();
  ASSERT_TRUE(manager_.Render());
  orvane::dx::SetRestoreFails(false);
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  auto at = std::find(log.begin(), log.end(), "CreateDevice HAL");
  ASSERT_NE(at, log.end());
  std::vector<std::string> init(at + 1, at + 8);
  EXPECT_EQ(init, (std::vector<std::string>{"SetRenderState 2 0", "SetRenderState 4 0", "SetRenderState 7 0",
                                            "SetRenderState 8 3", "SetRenderState 9 2", "SetRenderState 10 0",
                                            "SetRenderState 14 0"}));
  auto transforms = std::find(log.begin(), log.end(), "SetTransform 1");
  ASSERT_NE(transforms, log.end());
  EXPECT_EQ(*(transforms - 1), "SetRenderState 152 0");
  auto tail = std::find(log.begin(), log.end(), "SetTextureStageState 1 24 0");
  ASSERT_NE(tail, log.end());
  std::vector<std::string> resend(tail + 1, tail + 7);
  EXPECT_EQ(resend, (std::vector<std::string>{"SetRenderState 27 1", "SetRenderState 19 5",
                                              "SetRenderState 20 6", "SetRenderState 15 1",
                                              "SetRenderState 24 128", "SetRenderState 25 5"}));
  // 128 -> 64 changes only the reference; 64 -> 0 switches the test off.
  s->SetAlphaTest(0.25f);
  ASSERT_TRUE(manager_.Render());
  log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "SetRenderState 24 64"), 1);
  EXPECT_EQ(CountPrefix(log, "SetRenderState 15"), 0);
  s->SetAlphaTest(0.0f);
  ASSERT_TRUE(manager_.Render());
  log = orvane::dx::TakeCallLog();
  std::vector<std::string> off;
  for (auto& l : log)
    if (l.rfind("SetRenderState 15", 0) == 0 || l.rfind("SetRenderState 24", 0) == 0 ||
        l.rfind("SetRenderState 25", 0) == 0)
      off.push_back(l);
  EXPECT_EQ(off,
            (std::vector<std::string>{"SetRenderState 15 0", "SetRenderState 24 0", "SetRenderState 25 8"}));
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(CountPrefix(orvane::dx::TakeCallLog(), "SetRenderState"), 0);  // nothing changed
}

TEST_F(TssRender, LinearModeFollowsTheFlagOnBothDevices) {
  ASSERT_TRUE(Start(8, 8, 0x00));
  orvane::dx::TakeCallLog();
  manager_.SetLinearMode(false);
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "SetTextureStageState 0 16 1"), 1);  // POINT
  manager_.Destroy();
  ASSERT_TRUE(Start(8, 8, 0x01));
  orvane::dx::TakeCallLog();
  manager_.SetLinearMode(false);
  log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "SetTextureStageState 0 16 1"), 1);  // POINT on the software device too
  manager_.SetLinearMode(true);
  log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "SetTextureStageState 0 16 2"), 1);
}

TEST_F(TssRender, BlendModesAndAlphaTestOnTheBackBuffer) {
  struct Case {
    uint32_t mode;
    uint32_t src;  // image pixel ARGB
    uint32_t want;
  } cases[] = {
      {0, 0x80FF0000, 0xFF0000},  // replace
      {1, 0x80FF0000, 0x80007F},  // red 255*128/255, blue 255*127/255
      {2, 0x80FF0000, 0x8000FF},  // add: red 128, blue kept
      {7, 0x80FF0000, 0x8000FF},  // as mode 2
      {3, 0x80400000, 0x40007F},  // premultiplied over
      {4, 0xFF808080, 0x000080},  // multiply by blue
      {5, 0xFF808080, 0x808000},  // by inverse of blue
      {6, 0xFF808080, 0x0000FF},  // multiply add: 128 + 255 saturates
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Start(2, 2));
    DRef<DtssImage> under = Image(2, 2, 0xFF0000FF), over = Image(2, 2, c.src);
    DRef<DtssSprite> u = Shown(under.Get(), 0), o = Shown(over.Get(), 1);
    o->SetBlend(c.mode);
    ASSERT_TRUE(manager_.Render());
    EXPECT_EQ(Back()[0], c.want) << "mode " << c.mode;
    o->SetAlphaTest(0.5f);  // alpha 128 is not greater than 128: the top sprite vanishes
    ASSERT_TRUE(manager_.Render());
    EXPECT_EQ(Back()[0], c.src >> 24 == 0x80 ? 0x0000FFu : c.want) << "mode " << c.mode;
    u.Release();
    o.Release();
    under.Release();
    over.Release();
    manager_.Destroy();
  }
}

TEST_F(TssRender, EvictionUnderATinyBudget) {
  orvane::dx::DeviceProfile p;
  p.vram_budget = 16 * 16 * 4;
  orvane::dx::SetProfile(p);
  ASSERT_TRUE(Start(16, 16));
  DRef<DtssImage> a = Image(16, 16, 0xFFFF0000), b = Image(16, 16, 0xFF00FF00);
  DRef<DtssSprite> sa = Shown(a.Get(), 0);
  ASSERT_TRUE(manager_.Render());
  ASSERT_NE(a->GetTexture(), nullptr);
  sa.Release();  // a keeps its texture while unused
  EXPECT_NE(a->GetTexture(), nullptr);
  DRef<DtssSprite> sb = Shown(b.Get(), 0);
  ASSERT_TRUE(manager_.Render());  // b's upload fails once, unused a is evicted, b uploads
  EXPECT_EQ(a->GetTexture(), nullptr);
  ASSERT_NE(b->GetTexture(), nullptr);
  EXPECT_EQ(Back()[0], 0x00FF00u);
  // Two used images never fit: three tries, then false; the next render tries again.
  DRef<DtssSprite> sa2 = Shown(a.Get(), 1);
  EXPECT_FALSE(manager_.Render());
  EXPECT_FALSE(manager_.Render());
  sa2.Release();
  EXPECT_TRUE(manager_.Render());
  EXPECT_EQ(Back()[0], 0x00FF00u);
}

TEST_F(TssRender, OversizedBatchesAreRefused) {
  ASSERT_TRUE(Start(8, 8));
  DRef<DtssImage> img = Image(1, 1);
  ASSERT_TRUE(manager_.Render());
  std::vector<DtssVertex> v(1025);
  std::vector<uint16_t> i(4097);
  LogCapture log;
  EXPECT_FALSE(manager_._AddPrimitives(v.data(), 1025, i.data(), 3, img->GetTexture(), nullptr, 0, 0));
  EXPECT_FALSE(manager_._AddPrimitives(v.data(), 3, i.data(), 4097, img->GetTexture(), nullptr, 0, 0));
  EXPECT_NE(log.Text().find("[DtssManager::_AddPrimitives] refused 1025 vertices"), std::string::npos);
}

TEST_F(TssRender, RenderImageCopiesTheFrameIntoADynamicImage) {
  ASSERT_TRUE(Start(4, 4));
  DRef<DtssImage> red = Image(4, 4, 0xFFFF0000);
  DRef<DtssSprite> s = Shown(red.Get(), 0);
  ASSERT_TRUE(manager_.Render());
  DRef<DtssImage> dyn = manager_.CreateDynamicImage(8, 2);
  ASSERT_TRUE(dyn);
  EXPECT_TRUE(dyn->IsLost());  // new
  EXPECT_FALSE(dyn->IsLost());
  manager_.GetRenderImage(red.Get());  // not dynamic: nothing
  manager_.GetRenderImage(dyn.Get());
  ASSERT_NE(dyn->GetTexture(), nullptr);
  EXPECT_TRUE(dyn->IsLost());  // the texture was created
  std::vector<uint32_t> tex = ReadSurface(dyn->GetTexture());
  ASSERT_EQ(tex.size(), 16u);
  EXPECT_EQ(tex[0], 0xFF0000u);
  EXPECT_EQ(tex[3], 0xFF0000u);
  EXPECT_EQ(tex[4], 0u);  // past the back buffer's width
  EXPECT_FALSE(red->IsLost());
}

}  // namespace
