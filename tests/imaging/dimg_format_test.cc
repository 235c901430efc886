// Tests of the pixel format descriptions, the unpack/pack rules and the YCrCb component functions.
#include "imaging/dimg_format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

using F = DimgFormat;

class DimgFormatTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { DimgInitYCrCbTables(); }
};

TEST_F(DimgFormatTest, SizesAndAlphaOfEveryCode) {
  struct Case {
    F f;
    std::uint32_t bits, bytes;
    bool alpha;
  };
  const Case cases[] = {
      {F::RGBA8888, 32, 4, true}, {F::RGB888, 24, 3, false},   {F::BGRA8888, 32, 4, true},
      {F::BGR888, 24, 3, false},  {F::ARGB1555, 16, 2, true},  {F::ARGB4444, 16, 2, true},
      {F::RGB565, 16, 2, false},  {F::YCRCB888, 24, 3, false},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(DimgIsFormat(c.f));
    EXPECT_EQ(DimgBitCount(c.f), c.bits);
    EXPECT_EQ(DimgBytesPerPixel(c.f), c.bytes);
    EXPECT_EQ(DimgHasAlpha(c.f), c.alpha);
  }
  EXPECT_FALSE(DimgIsFormat(static_cast<F>(8)));
  EXPECT_EQ(DimgBytesPerPixel(static_cast<F>(0xFFFFFFFFu)), 0u);
}

TEST_F(DimgFormatTest, UnpackWithoutBitReplication) {
  struct Case {
    F f;
    std::array<std::uint8_t, 4> bytes;
    DimgRgba want;
  };
  const Case cases[] = {
      {F::ARGB1555, {0xFF, 0xFF}, {248, 248, 248, 255}},
      {F::ARGB1555, {0x00, 0x80}, {0, 0, 0, 255}},
      {F::ARGB1555, {0xFF, 0x7F}, {248, 248, 248, 0}},
      {F::RGB565, {0xFF, 0xFF}, {248, 248, 248, 255}},
      {F::RGB565, {0x20, 0x00}, {0, 0, 0, 255}},  // green bit 5 alone counts for nothing
      {F::RGB565, {0xE0, 0x07}, {0, 248, 0, 255}},
      {F::ARGB4444, {0xFF, 0xFF}, {240, 240, 240, 240}},
      {F::ARGB4444, {0x21, 0x43}, {48, 32, 16, 64}},
      {F::RGBA8888, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {F::BGRA8888, {1, 2, 3, 4}, {3, 2, 1, 4}},
      {F::RGB888, {1, 2, 3}, {1, 2, 3, 255}},
      {F::BGR888, {1, 2, 3}, {3, 2, 1, 255}},
      {F::YCRCB888, {76, 255, 84}, {254, 0, 0, 255}},
      {F::YCRCB888, {149, 21, 43}, {0, 254, 0, 255}},
      {F::YCRCB888, {29, 107, 255}, {0, 0, 254, 255}},
      {F::YCRCB888, {255, 128, 128}, {255, 255, 255, 255}},
      {F::YCRCB888, {16, 128, 128}, {16, 16, 16, 255}},
      {F::YCRCB888, {0, 0, 0}, {0, 135, 0, 255}},
      {F::YCRCB888, {255, 255, 255}, {255, 120, 255, 255}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.f));
    const DimgRgba got = DimgUnpackPixel(c.f, c.bytes.data());
    EXPECT_EQ(got.r, c.want.r);
    EXPECT_EQ(got.g, c.want.g);
    EXPECT_EQ(got.b, c.want.b);
    EXPECT_EQ(got.a, c.want.a);
  }
}

TEST_F(DimgFormatTest, PackTruncates) {
  struct Case {
    F f;
    DimgRgba in;
    std::array<std::uint8_t, 4> want;
  };
  const Case cases[] = {
      {F::ARGB1555, {255, 255, 255, 127}, {0xFF, 0x7F}},
      {F::ARGB1555, {255, 255, 255, 128}, {0xFF, 0xFF}},
      {F::ARGB4444, {255, 255, 255, 127}, {0xFF, 0x7F}},
      {F::ARGB4444, {255, 255, 255, 128}, {0xFF, 0x8F}},
      {F::RGB565, {0, 4, 0, 255}, {0x00, 0x00}},
      {F::RGB565, {255, 255, 255, 0}, {0xDF, 0xFF}},  // green bit 5 always 0
      {F::RGB565, {8, 16, 24, 0}, {0x83, 0x08}},
      {F::RGBA8888, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {F::BGRA8888, {1, 2, 3, 4}, {3, 2, 1, 4}},
      {F::RGB888, {1, 2, 3, 4}, {1, 2, 3, 0xEE}},  // the byte after the pixel is not written
      {F::BGR888, {1, 2, 3, 4}, {3, 2, 1, 0xEE}},
      {F::YCRCB888, {255, 0, 0, 0}, {76, 255, 84, 0xEE}},
      {F::YCRCB888, {248, 248, 248, 0}, {248, 128, 128, 0xEE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.f));
    std::array<std::uint8_t, 4> out = {0xEE, 0xEE, 0xEE, 0xEE};
    DimgPackPixel(c.f, out.data(), c.in);
    for (std::uint32_t i = 0; i < DimgBytesPerPixel(c.f); ++i) EXPECT_EQ(out[i], c.want[i]) << i;
    if (DimgBytesPerPixel(c.f) == 3) {
      EXPECT_EQ(out[3], 0xEE);
    }
  }
}

TEST_F(DimgFormatTest, YCrCbComponentsOfKnownColours) {
  struct Case {
    std::uint8_t r, g, b, y, cr, cb;
  };
  const Case cases[] = {
      {255, 255, 255, 255, 128, 128}, {0, 0, 0, 0, 128, 128},   {128, 128, 128, 128, 128, 128},
      {255, 0, 0, 76, 255, 84},       {0, 255, 0, 149, 21, 43}, {0, 0, 255, 29, 107, 255},
      {1, 2, 3, 1, 127, 128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.r} << "," << int{c.g} << "," << int{c.b});
    EXPECT_EQ(DimgRGBToY(c.r, c.g, c.b), c.y);
    EXPECT_EQ(DimgRGBToCr(c.r, c.g, c.b), c.cr);
    EXPECT_EQ(DimgRGBToCb(c.r, c.g, c.b), c.cb);
  }
}

TEST_F(DimgFormatTest, GreenFromYCrCbTakesYThenCrThenCb) {
  struct Case {
    std::uint8_t y, cr, cb, g;
  };
  const Case cases[] = {
      {255, 0, 0, 255},  // clamps high
      {0, 255, 255, 0},  // clamps low
      {0, 0, 0, 135},       {76, 255, 84, 0},
      {128, 128, 128, 128}, {100, 128, 0, 144},  // Cb alone: 100 + (5638 >> 7)
      {100, 0, 128, 191},                        // Cr alone: 100 + (11700 >> 7)
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.y} << "," << int{c.cr} << "," << int{c.cb});
    EXPECT_EQ(DimgYCrCbToG(c.y, c.cr, c.cb), c.g);
  }
}

}  // namespace
