// TSS texture images: texture sizes, uploads, edge padding, scrolling, fills and the lost flag.
#include <cmath>
#include <limits>

#include "tss_fixture.h"

using namespace tss_test;

namespace {

class TssImage : public Tss {
 protected:
  // Shows the image on a hidden-then-shown sprite and renders once, so that it gets a texture.
  DRef<DtssSprite> Use(DtssImage* image) {
    DRef<DtssSprite> s = manager_.CreateSprite(image, 0);
    EXPECT_TRUE(s);
    return s;
  }
};

TEST_F(TssImage, TextureSizesFollowTheDeviceCaps) {
  struct Case {
    bool pow2, square;
    int w, h;
  } cases[] = {
      {true, false, 512, 256}, {true, true, 512, 512}, {false, false, 300, 200}, {false, true, 300, 300}};
  for (const Case& c : cases) {
    orvane::dx::DeviceProfile p;
    p.pow2 = c.pow2;
    p.square_only = c.square;
    orvane::dx::SetProfile(p);
    ASSERT_TRUE(Start(8, 8));
    DRef<DtssImage> img = Image(300, 200);
    DRef<DtssSprite> s = Use(img.Get());
    ASSERT_TRUE(manager_.Render());
    EXPECT_EQ(img->GetTextureSize().x, c.w);
    EXPECT_EQ(img->GetTextureSize().y, c.h);
    s.Release();
    img.Release();
    manager_.Destroy();
  }
}

TEST_F(TssImage, UnusedImagesWaitAndExactTexturesGetNoEdgeCopies) {
  orvane::dx::DeviceProfile p;
  p.pow2 = true;
  orvane::dx::SetProfile(p);
  ASSERT_TRUE(Start(8, 8));
  DRef<DtssImage> img = Image(256, 256);
  ASSERT_TRUE(manager_.Render());
  EXPECT_EQ(img->GetTexture(), nullptr);  // no sprite uses it
  EXPECT_TRUE(img->HasDirtyRect());
  DRef<DtssSprite> s = Use(img.Get());
  orvane::dx::TakeCallLog();
  ASSERT_TRUE(manager_.Render());
  ASSERT_NE(img->GetTexture(), nullptr);
  EXPECT_FALSE(img->HasDirtyRect());
  std::vector<std::string> log = orvane::dx::TakeCallLog();
  EXPECT_EQ(CountPrefix(log, "Blt "), 1);  // the upload only
}

TEST_F(TssImage, ScrollingClampsAndTheEdgeCopiesFollowTheWindow) {
  orvane::dx::DeviceProfile p;
  p.pow2 = true;
  orvane::dx::SetProfile(p);
  ASSERT_TRUE(Start(8, 8));
  DImage src;
  MakeSource(&src, 5, 3, [](uint32_t x, uint32_t y) { return 0xFF000000u | (x << 8) | y; });
  DRef<DtssImage> img = manager_.CreateImage(src, 3, 2);  // a 3x2 window in a 4x2 texture
  ASSERT_TRUE(img);
  DRef<DtssSprite> s = Use(img.Get());
  img->SetPos(9, 9);
  EXPECT_EQ(img->GetPos().x, 2);  // source width - width
  EXPECT_EQ(img->GetPos().y, 1);
  ASSERT_TRUE(manager_.Render());
  std::vector<uint32_t> tex = ReadSurface(img->GetTexture());
  ASSERT_EQ(tex.size(), 8u);
  // Window pixels (2..4, 1..2); column 3 repeats column 2 (source x 4).
  EXPECT_EQ(tex[0], 0xFF000201u);
  EXPECT_EQ(tex[2], 0xFF000401u);
  EXPECT_EQ(tex[3], 0xFF000401u);
  EXPECT_EQ(tex[4 + 3], 0xFF000402u);
  img->SetPos(-5, 0);
  EXPECT_EQ(img->GetPos().x, 0);
  ASSERT_TRUE(manager_.Render());
  tex = ReadSurface(img->GetTexture());
  EXPECT_EQ(tex[3], 0xFF000200u);
  DRef<DtssImage> wide = manager_.CreateImage(src, 9, 3);  // wider than its source: stays at 0
  wide->SetPos(4, 0);
  EXPECT_EQ(wide->GetPos().x, 0);
}

TEST_F(TssImage, FillClipsClampsAndMarksOnlyTheInside) {
  for (bool argb4444 : {false, true}) {
    orvane::dx::DeviceProfile p;
    if (argb4444) p.desktop_depth = 16;
    orvane::dx::SetProfile(p);
    ASSERT_TRUE(Start(8, 8));
    ASSERT_EQ(manager_.GetTextureFormat(), argb4444 ? 5u : 2u);
    DRef<DtssImage> img = Image(4, 4, 0);
    ASSERT_TRUE(img);
    DRef<DtssSprite> s = Use(img.Get());
    ASSERT_TRUE(manager_.Render());
    img->Fill(-2, 2, 4, 9, 1.0f, 0.5f, 0.0f, 1.0f);
    EXPECT_EQ(img->GetDirtyRect().x, 0);
    EXPECT_EQ(img->GetDirtyRect().y, 2);
    EXPECT_EQ(img->GetDirtyRect().width, 2);
    EXPECT_EQ(img->GetDirtyRect().height, 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    img->Fill(3, 0, 1, 1, 7.0f, -3.0f, nan, 1.5f);  // clamped, never spilling into other channels
    int32_t pitch = 0;
    uint8_t* px = img->Lock(&pitch);
    ASSERT_NE(px, nullptr);
    auto at = [&](int x, int y) {
      uint32_t v = 0;
      std::memcpy(&v, px + pitch * y + x * (argb4444 ? 2 : 4), argb4444 ? 2 : 4);
      return v;
    };
    if (argb4444) {
      EXPECT_EQ(at(0, 2), 0xFF70u);
      EXPECT_EQ(at(3, 0), 0xFF00u);
    } else {
      EXPECT_EQ(at(0, 2), 0xFFFF7F00u);
      EXPECT_EQ(at(1, 3), 0xFFFF7F00u);
      EXPECT_EQ(at(3, 0), 0xFFFF0000u);
    }
    EXPECT_EQ(at(2, 2), 0u);
    EXPECT_EQ(at(0, 1), 0u);
    img->Unlock();
    s.Release();
    img.Release();
    manager_.Destroy();
  }
}

TEST_F(TssImage, LostFlagOfDynamicImages) {
  ASSERT_TRUE(Start(4, 4));
  DRef<DtssImage> dyn = manager_.CreateDynamicImage(4, 4), st = Image(2, 2);
  EXPECT_TRUE(dyn->IsLost());
  EXPECT_FALSE(dyn->IsLost());
  manager_.GetRenderImage(dyn.Get());
  EXPECT_TRUE(dyn->IsLost());
  EXPECT_FALSE(dyn->IsLost());
  orvane::dx::LoseSurfaces();
  ASSERT_TRUE(manager_.Render());  // restored
  EXPECT_TRUE(dyn->IsLost());
  EXPECT_FALSE(st->IsLost());
  EXPECT_EQ(dyn->Lock(nullptr), nullptr);
  dyn->Fill(0, 0, 4, 4, 1, 1, 1, 1);  // nothing to fill
}

TEST_F(TssImage, ReleasedUnitLeavesImagesAndSpritesInert) {
  ASSERT_TRUE(Start(4, 4));
  DRef<DtssImage> img = Image(2, 2);
  DRef<DtssSprite> s = Use(img.Get());
  s->SetDraw(true);
  manager_.Destroy();
  EXPECT_FALSE(img->IsInitialised());
  img->SetPos(1, 1);
  img->Fill(0, 0, 1, 1, 1, 1, 1, 1);
  img->AddDirtyRect(0, 0, 1, 1);
  s->SetDraw(true);
  s->SetPos(3, 3);
  s->Draw();
  EXPECT_FALSE(s->SetLevel(4));
  EXPECT_FALSE(manager_.Render() && manager_.GetBackBuffer());
}

}  // namespace
