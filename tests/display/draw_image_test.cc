// Draw images: packing, pixels, lines, run maps, alpha planes, status stack, creation.
#include "display/draw/draw_image.h"

#include <gtest/gtest.h>

#include "imaging/hal/dhal.h"

namespace {

class DrawImageTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(DHalInit(6)); }
  void TearDown() override { DHalTerm(); }
};

TEST_F(DrawImageTest, CreatePixelsAndFill) {
  DrawImage im;
  ASSERT_TRUE(im.Create(nullptr, 10, 10));
  EXPECT_FALSE(im.Create(nullptr, 10, 10) && im.GetOwner());
  EXPECT_EQ(im.GetImage()->GetPitch(), 32u);
  EXPECT_EQ(im.GetFlags(), 11u);
  im.Fill(0);
  im.PutColor(3, 4, 31, 40, 1);  // green clamps to 31
  EXPECT_EQ(im.GetPixel(3, 4), 0xF800 | (31 << 6) | 1);
  im.PutPixel(-1, 0, 7);
  im.PutPixel(10, 0, 7);
  EXPECT_EQ(im.GetPixel(-1, 0), 0);
  EXPECT_EQ(im.GetPixel(0, 10), 0);
  im.FillRect(-2, -3, 4, 5, 0x1234);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      if (!(x == 3 && y == 4)) {
        EXPECT_EQ(im.GetPixel(x, y), (x < 2 && y < 2) ? 0x1234 : 0) << x << "," << y;
      }
    }
  DrawImage zero;
  ASSERT_TRUE(zero.Create(nullptr, 0, 5));
  EXPECT_EQ(zero.GetWidth(), 0);
  zero.Fill(1);
  zero.DrawLine(0, 0, 5, 5, 1);
}

// Every pixel a line writes on a 10 x 10 image, as "x,y;" in writing order after sorting.
std::string LinePixels(int x1, int y1, int x2, int y2) {
  DrawImage im;
  im.Create(nullptr, 10, 10);
  im.Fill(0);
  im.DrawLine(x1, y1, x2, y2, 1);
  std::string out;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      if (im.GetPixel(x, y)) out += std::to_string(x) + "," + std::to_string(y) + ";";
  return out;
}

TEST_F(DrawImageTest, LinesClipAndMissCleanly) {
  EXPECT_EQ(LinePixels(-5, -5, 20, 20), "0,0;1,1;2,2;3,3;4,4;5,5;6,6;7,7;8,8;9,9;");
  // A segment wholly above the image draws nothing.
  EXPECT_EQ(LinePixels(5, -10, 5, -3), "");
  EXPECT_EQ(LinePixels(-10, 5, -3, 5), "");
  EXPECT_EQ(LinePixels(5, -10, 5, 1), "5,0;5,1;");
  EXPECT_EQ(LinePixels(8, 2, 11, 2), "8,2;9,2;");
  EXPECT_EQ(LinePixels(0, 0, 4, 2), "0,0;1,0;2,1;3,1;4,2;");
  EXPECT_EQ(LinePixels(0, 0, 2, 4), "0,0;0,1;1,2;1,3;2,4;");
  // Extremes neither overflow nor draw outside.
  EXPECT_EQ(LinePixels(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX).substr(0, 8), "0,0;1,1;");
  EXPECT_EQ(LinePixels(INT32_MIN, 3, INT32_MAX, 4).size() > 0, true);
  EXPECT_EQ(LinePixels(20, 20, 30, 40), "");
}

TEST_F(DrawImageTest, RunMapOfLongRunsAndKeySettings) {
  DrawImage im;
  im.Create(nullptr, 600, 2);
  im.Fill(0);
  for (int x = 0; x < 3; ++x) im.PutPixel(x, 1, 5);
  im.SetFastTrans(true);
  EXPECT_FALSE(im.IsFastTrans());  // key off
  im.SetTrans(true, 0, 0, 0);
  im.SetFastTrans(true);
  ASSERT_TRUE(im.IsFastTrans());
  const std::uint8_t* map = im.GetRunMap().Get();
  EXPECT_EQ(map[0], 255);
  EXPECT_EQ(map[254], 1);
  EXPECT_EQ(map[255], 255);
  EXPECT_EQ(map[510], 90);
  EXPECT_EQ(map[599], 1);
  EXPECT_EQ(map[600], 3);
  EXPECT_EQ(map[602], 1);
  EXPECT_EQ(map[603], 255);
  im.SetTrans(true, 1, 1, 1);
  EXPECT_FALSE(im.IsFastTrans());
  std::uint8_t r, g, b;
  im.GetTransColor(&r, &g, &b);
  EXPECT_EQ(r + g + b, 3);
}

TEST_F(DrawImageTest, AlphaPlanes) {
  DrawImage a, b, src;
  a.Create(nullptr, 4, 4);
  b.Create(nullptr, 4, 4);
  src.Create(nullptr, 4, 4);
  src.Fill(31, 31, 31);
  src.PutColor(1, 1, 0, 0, 7);
  a.ConvAlpha(0, 0, 4, 4, src, 0, 0);  // plane off: nothing
  EXPECT_FALSE(a.GetAlphaPlane());
  a.EnableAlpha(true);
  ASSERT_TRUE(a.GetAlphaPlane());
  EXPECT_EQ(a.GetAlphaPlane()[5], 0);   // new planes are zeroed
  a.ConvAlpha(-1, 0, 4, 4, src, 0, 0);  // dx -1 moves sx to 1
  EXPECT_EQ(a.GetAlphaPlane()[4], 7);
  EXPECT_EQ(a.GetAlphaPlane()[0], 31);
  EXPECT_EQ(a.GetAlphaPlane()[3], 0);
  src.SetTrans(true, 0, 0, 7);
  src.SetFastTrans(true);
  a.ConvTransAlpha(0, 0, 4, 4, src, 0, 0);
  EXPECT_EQ(a.GetAlphaPlane()[5], 31);
  EXPECT_EQ(a.GetAlphaPlane()[4], 0);
  EXPECT_TRUE(a.ShareAlpha(b));
  EXPECT_EQ(a.GetAlphaPlane().Get(), b.GetAlphaPlane().Get());
  DrawImage other;
  other.Create(nullptr, 3, 4);
  EXPECT_FALSE(a.ShareAlpha(other));
  a.SeparateAlpha();
  EXPECT_NE(a.GetAlphaPlane().Get(), b.GetAlphaPlane().Get());
  EXPECT_EQ(a.GetAlphaPlane()[5], 0);
}

TEST_F(DrawImageTest, StatusStackAndWeakParent) {
  DrawImage im;
  im.Create(nullptr, 4, 4);
  auto parent = std::make_unique<DrawImage>();
  parent->Create(nullptr, 4, 4);
  im.SetTrans(true, 1, 2, 3);
  im.SetBlend(2);
  im.Connect(parent.get());
  im.SetPos(5, 6);
  im.PushStatus();
  im.SetTrans(false, 0, 0, 0);
  im.SetBlend(5);
  im.SetAlphaKey(200);
  EXPECT_EQ(im.GetAlphaKey(), 31);
  im.PushStatus();
  im.SetPos(1, 1);
  im.PopStatus();  // the second state first
  EXPECT_EQ(im.GetBlend(), 5u);
  EXPECT_FALSE(im.IsTrans());
  std::uint8_t r, g, b;
  im.GetTransColor(&r, &g, &b);  // the key colour stays when the saved key was off
  EXPECT_EQ(r * 100 + g * 10 + b, 123);
  parent.reset();  // destroyed before the pop
  EXPECT_EQ(im.GetParent(), nullptr);
  im.PopStatus();
  EXPECT_TRUE(im.IsTrans());
  EXPECT_EQ(im.GetBlend(), 2u);
  EXPECT_EQ(im.GetParent(), nullptr);
  EXPECT_EQ(im.GetPos().x, 5);
  im.PopStatus();  // empty: nothing
  EXPECT_EQ(im.StatusDepth(), 0u);
}

TEST_F(DrawImageTest, ConnectRefusesCyclesAndParentsMoveChildren) {
  DrawImage a, b, c;
  for (DrawImage* i : {&a, &b, &c}) i->Create(nullptr, 2, 2);
  EXPECT_TRUE(b.Connect(&a));
  EXPECT_TRUE(c.Connect(&b));
  EXPECT_FALSE(a.Connect(&c));
  EXPECT_FALSE(a.Connect(&a));
  EXPECT_EQ(a.GetParent(), nullptr);
  a.SetPos(10, 20);
  b.SetPos(1, 2);
  c.SetPos(3, 4);
  EXPECT_EQ(c.GetAbsolutePos().x, 14);
  EXPECT_EQ(c.GetAbsolutePos().y, 26);
  a.SetPos(INT32_MAX, 0);
  b.SetPos(INT32_MAX, 0);
  EXPECT_EQ(c.GetAbsolutePos64().x, 2 * std::int64_t{INT32_MAX} + 3);
  b.DisconnectAll();
  EXPECT_EQ(c.GetParent(), nullptr);
  EXPECT_EQ(c.GetPos().x, 3);
  EXPECT_TRUE(b.Connect(nullptr));
  EXPECT_EQ(a.ChildCount(), 0u);
  c.Connect(&b);
  b.Destroy();
  EXPECT_EQ(c.GetParent(), nullptr);
}

TEST_F(DrawImageTest, DuplicateSharesCopyDoesNot) {
  DRef<DrawImage> src;
  src.Alloc(1);
  src->Create(nullptr, 4, 4);
  src->Fill(3);
  src->SetTrans(true, 0, 0, 3);
  src->SetFastTrans(true);
  src->EnableAlpha(true);
  src->GetAlphaPlane()[0] = 9;
  src->SetAlphaKey(7);
  DrawImage dup, copy;
  ASSERT_TRUE(dup.Duplicate(src));
  ASSERT_TRUE(copy.CopyFrom(src));
  EXPECT_FALSE(dup.Duplicate(DRef<DrawImage>()));
  dup.PutPixel(0, 0, 77);
  EXPECT_EQ(src->GetPixel(0, 0), 77);
  copy.PutPixel(1, 0, 88);
  EXPECT_EQ(src->GetPixel(1, 0), 3);
  EXPECT_EQ(copy.GetPixel(2, 0), 3);
  EXPECT_TRUE(copy.IsFastTrans());
  EXPECT_EQ(copy.GetAlphaPlane()[0], 9);
  EXPECT_NE(copy.GetAlphaPlane().Get(), src->GetAlphaPlane().Get());
  EXPECT_EQ(copy.GetAlphaKey(), 7);
  EXPECT_EQ(dup.GetAlphaKey(), 7);
}

}  // namespace
