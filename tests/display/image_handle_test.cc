// Image handles and wipe maps: building, repeating, thresholds in both directions.
#include "display/draw/image_handle.h"

#include <gtest/gtest.h>

#include "imaging/hal/dhal.h"

namespace {

class Wipe : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(DHalInit(6)); }
  void TearDown() override { DHalTerm(); }
};

// An RGB picture whose pixel (x, y) is (r(x, y), g(x, y), b(x, y)).
template <class F>
void Paint(DImage& im, int w, int h, F f) {
  ASSERT_TRUE(im.Create(w, h, 0, DimgFormat::RGB888));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = im.GetPixelPointer(x, y);
      f(x, y, p);
    }
}

TEST_F(Wipe, HandleAttachCopyClear) {
  DRef<DrawImage> im;
  im.Alloc(1);
  im->Create(nullptr, 320, 240);
  ImageHandle h;
  ASSERT_TRUE(h.Attach(DRef<ConnectedImage>::Convert(im)));
  EXPECT_EQ(h.text_box.width, 320);
  EXPECT_EQ(h.text_box.height, 240);
  EXPECT_EQ(h.text_color, 0);
  EXPECT_EQ(h.layout, 0x212u);
  EXPECT_FALSE(h.Attach(DRef<ConnectedImage>::Convert(im)));
  h.text_pos = DPoint(3, 4);
  ImageHandle c;
  ASSERT_TRUE(c.CopyFrom(h));
  EXPECT_EQ(c.text_pos.y, 4);
  EXPECT_FALSE(c.CopyFrom(h));
  EXPECT_TRUE(c.Clear());
  EXPECT_FALSE(c.Clear());
}

TEST_F(Wipe, BuildRepeatsAndRefusesBadInput) {
  DrawImage screen;
  screen.Create(nullptr, 640, 480);
  DImage pic;
  Paint(pic, 64, 64, [](int x, int y, std::uint8_t* p) {
    p[0] = 255, p[1] = 255, p[2] = static_cast<std::uint8_t>(x + y);
  });
  WipeMap map;
  ASSERT_TRUE(BuildWipeMap(map, pic, 0, screen));
  EXPECT_EQ(map.width, 640u);
  EXPECT_EQ(map.height, 480u);
  EXPECT_EQ(map.At(0, 0), 0x8000);
  EXPECT_EQ(map.At(10, 3), 0x8000 | (13 * 32767 / 255));
  EXPECT_EQ(map.At(64 * 9 + 10, 3), map.At(10, 3));  // ten times across
  EXPECT_EQ(map.At(10, 64 * 7 + 3), map.At(10, 3));  // seven and a half times down
  EXPECT_EQ(map.At(639, 479), map.At(639 % 64, 479 % 64));
  ASSERT_TRUE(BuildWipeMap(map, pic, 1, screen));
  EXPECT_EQ(map.At(0, 0), 0x8000 | 32767);  // R 255, G 255
  EXPECT_FALSE(BuildWipeMap(map, pic, 2, screen));
  DImage empty;
  EXPECT_FALSE(BuildWipeMap(map, empty, 0, screen));
  // Another format is converted first.
  DImage bgra;
  ASSERT_TRUE(bgra.Create(2, 2, 0, DimgFormat::BGRA8888));
  for (int i = 0; i < 16; ++i) bgra.GetBits()[i] = 0;
  ASSERT_TRUE(BuildWipeMap(map, bgra, 0, screen));
  EXPECT_EQ(map.At(5, 5), 0x8000);
}

TEST_F(Wipe, ThresholdsAndDirections) {
  DrawImage screen, src, dst;
  screen.Create(nullptr, 8, 2);
  src.Create(nullptr, 8, 2);
  dst.Create(nullptr, 8, 2);
  DImage pic;
  // Levels 0 (black) in column 0, then rising by blue.
  Paint(pic, 8, 2,
        [](int x, int, std::uint8_t* p) { p[0] = p[1] = 0, p[2] = static_cast<std::uint8_t>(x * 30); });
  WipeMap map;
  ASSERT_TRUE(BuildWipeMap(map, pic, 0, screen));
  auto level = [&](int x) { return map.At(x, 0) & 0x7FFF; };
  for (std::uint32_t dir : {0u, 1u, 2u}) {
    for (std::uint32_t t : {0u, std::uint32_t(level(3)), 32767u}) {
      src.Fill(1);
      dst.Fill(2);
      dst.BltWipe(src, 0, 0, 8, 2, 0, 0, map, t, dir);
      for (int x = 0; x < 8; ++x) {
        bool treated = dir == 1 ? level(x) <= int(t) : dir == 0 ? level(x) >= int(t) : false;
        EXPECT_EQ(dst.GetPixel(x, 1), treated ? 1 : 2) << dir << " " << t << " " << x;
      }
    }
  }
  // A rectangle starting at x = -2 reads the map from its column 0.
  src.Fill(1);
  dst.Fill(2);
  dst.BltWipe(src, -2, 0, 8, 2, 0, 0, map, std::uint32_t(level(1)), 1);
  EXPECT_EQ(dst.GetPixel(0, 0), 1);  // map columns 0 and 1 are at or below the threshold
  EXPECT_EQ(dst.GetPixel(1, 0), 1);
  EXPECT_EQ(dst.GetPixel(2, 0), 2);
  EXPECT_EQ(dst.GetPixel(5, 0), 2);
  // Alpha wipes need the planes on.
  dst.FillAlphaWipe(0, 0, 8, 2, 5, 9, map, std::uint32_t(level(3)), 1);
  EXPECT_FALSE(dst.GetAlphaPlane());
  dst.EnableAlpha(true);
  dst.FillAlphaWipe(0, 0, 8, 2, 5, 9, map, std::uint32_t(level(3)), 1);
  EXPECT_EQ(dst.GetAlphaPlane()[3], 5);
  EXPECT_EQ(dst.GetAlphaPlane()[4], 9);
  dst.FillAlphaWipe(0, 0, 8, 2, 5, 9, map, std::uint32_t(level(3)), 0);
  EXPECT_EQ(dst.GetAlphaPlane()[2], 9);
  EXPECT_EQ(dst.GetAlphaPlane()[3], 5);
  src.EnableAlpha(true);
  for (int i = 0; i < 16; ++i) src.GetAlphaPlane()[i] = 17;
  dst.BltAlphaWipe(0, 0, 8, 2, src, 0, 0, map, 0, 1);
  EXPECT_EQ(dst.GetAlphaPlane()[0], 17);
  EXPECT_EQ(dst.GetAlphaPlane()[1], 9);
}

}  // namespace
