// Rotate-and-scale blit: the worked examples and a closed-form model over random arguments.
#include "imaging/blit/dimg_rotate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "imaging/dimage.h"
#include "imaging/dimg_tables.h"

namespace {

constexpr std::uint16_t kOld = 0xEEEE;

// A w x h RGB565 image whose pixel (x, y) is y * 16 + x + 1 (top-down or bottom-up), with
// `pad` spare bytes at the end of every row as a guard.
void Make(DImage& img, std::uint32_t w, std::uint32_t h, bool numbered, std::uint32_t pad = 0) {
  img.Destroy();
  ASSERT_TRUE(img.Create(w, h, 2 * w + pad, DimgFormat::RGB565));
  std::memset(img.GetBits(), 0xEE, std::size_t{img.GetPitch()} * h);
  if (numbered)
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x) {
        const auto v = static_cast<std::uint16_t>(y * 16 + x + 1);
        std::memcpy(img.GetPixelPointer(x, y), &v, 2);
      }
}

std::uint16_t At(const DImage& img, std::int32_t x, std::int32_t y) {
  std::uint16_t v;
  std::memcpy(&v, img.GetPixelPointer(x, y), 2);
  return v;
}
std::uint16_t Src(int x, int y) {
  return static_cast<std::uint16_t>(y * 16 + x + 1);
}

class DimgRotateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { DimgInitMathTables(); }
};

TEST_F(DimgRotateTest, AngleZeroScaleOneCopiesWithTheCentreOnThePoint) {
  DImage src, dst;
  Make(src, 4, 3, true);
  Make(dst, 10, 10, false);
  DimgRotate(dst, 5, 6, src, 1, 2, 0.0f, 1.0f);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      const int sx = x - 5 + 1, sy = y - 6 + 2;
      const bool inside = sx >= 0 && sx < 4 && sy >= 0 && sy < 3;
      EXPECT_EQ(At(dst, x, y), inside ? Src(sx, sy) : kOld) << x << "," << y;
    }
}

TEST_F(DimgRotateTest, ScaleTwoRepeatsAllButTheLastColumnAndRow) {
  DImage src, dst;
  Make(src, 4, 3, true);
  Make(dst, 9, 7, false);
  DimgRotate(dst, 1, 1, src, 0, 0, 0.0f, 2.0f);
  const int cols[7] = {0, 0, 1, 1, 2, 2, 3}, rows[5] = {0, 0, 1, 1, 2};
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 9; ++x) {
      const bool in_box = x >= 1 && x < 8 && y >= 1 && y < 6;
      EXPECT_EQ(At(dst, x, y), in_box ? Src(cols[x - 1], rows[y - 1]) : kOld) << x << "," << y;
    }
  // A scale of 5 draws as 4.
  DImage four, five;
  Make(four, 20, 20, false);
  Make(five, 20, 20, false);
  DimgRotate(four, 2, 2, src, 0, 0, 0.3f, 4.0f);
  DimgRotate(five, 2, 2, src, 0, 0, 0.3f, 5.0f);
  EXPECT_EQ(std::memcmp(four.GetBits(), five.GetBits(), 20 * 40), 0);
}

TEST_F(DimgRotateTest, QuarterAndHalfTurns) {
  DImage src, dst;
  Make(src, 4, 4, true);
  Make(dst, 12, 12, false);
  DimgRotate(dst, 6, 6, src, 2, 2, static_cast<float>(M_PI / 2), 1.0f);
  EXPECT_EQ(At(dst, 8, 4), Src(0, 0));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(At(dst, 8, 4 + i), Src(i, 0)) << i;  // top row down x = 8

  Make(dst, 12, 12, false);
  DimgRotate(dst, 6, 6, src, 0, 0, static_cast<float>(M_PI), 1.0f);
  EXPECT_EQ(At(dst, 6, 6), Src(0, 0));
  EXPECT_EQ(At(dst, 3, 3), Src(3, 3));
}

TEST_F(DimgRotateTest, QuarterScaleDrawsTheCentrePixelOnly) {
  DImage src, dst;
  Make(src, 3, 3, true);
  for (float scale : {0.25f, 0.1f, -3.0f}) {
    Make(dst, 5, 5, false);
    DimgRotate(dst, 2, 2, src, 1, 1, 0.0f, scale);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(At(dst, x, y), x == 2 && y == 2 ? Src(1, 1) : kOld) << scale;
  }
}

// ---- The closed-form model -------------------------------------------------------------------------

std::int64_t RoundEven(float v) {
  return static_cast<std::int64_t>(std::nearbyint(v));
}

struct Step {
  std::uint32_t box, walk;  // sine-table steps of the angle and of its negation
};

// Expected destination after drawing src at (dx, dy) about (cx, cy), from the description: the
// box from the turned corners, then pixel (px, py) of the clipped box shows source pixel
// (((px - dx) A - (py - dy) B + 256 cx) >> 8, ((px - dx) B + (py - dy) A + 256 cy) >> 8).
std::vector<std::uint16_t> Model(const DImage& dst, const DImage& src, int dx, int dy, int cx, int cy,
                                 Step st, float scale) {
  const int W = static_cast<int>(dst.GetWidth()), H = static_cast<int>(dst.GetHeight());
  const int sw = static_cast<int>(src.GetWidth()), sh = static_cast<int>(src.GetHeight());
  std::vector<std::uint16_t> out;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) out.push_back(At(dst, x, y));
  scale = std::min(std::max(scale, 0.25f), 4.0f);
  const float c = DimgSinTable[st.box + 1024], s = DimgSinTable[st.box];
  std::int64_t X[4], Y[4];
  const int cxs[4] = {-cx, sw - 1 - cx, -cx, sw - 1 - cx}, cys[4] = {-cy, -cy, sh - 1 - cy, sh - 1 - cy};
  for (int i = 0; i < 4; ++i) {
    const float fx = static_cast<float>(cxs[i]), fy = static_cast<float>(cys[i]);
    X[i] = RoundEven(fx * c - fy * s);
    Y[i] = RoundEven(fx * s + fy * c);
  }
  const std::int64_t xmin = RoundEven(static_cast<float>(*std::min_element(X, X + 4)) * scale);
  const std::int64_t xmax = RoundEven(static_cast<float>(*std::max_element(X, X + 4)) * scale);
  const std::int64_t ymin = RoundEven(static_cast<float>(*std::min_element(Y, Y + 4)) * scale);
  const std::int64_t ymax = RoundEven(static_cast<float>(*std::max_element(Y, Y + 4)) * scale);
  const float k = (1.0f / scale) * 256.0f;
  const std::int64_t B = RoundEven(DimgSinTable[st.walk] * k),
                     A = RoundEven(DimgSinTable[st.walk + 1024] * k);
  for (std::int64_t py = std::max<std::int64_t>(dy + ymin, 0); py <= std::min<std::int64_t>(dy + ymax, H - 1);
       ++py)
    for (std::int64_t px = std::max<std::int64_t>(dx + xmin, 0);
         px <= std::min<std::int64_t>(dx + xmax, W - 1); ++px) {
      const std::int64_t u = (px - dx) * A - (py - dy) * B + 256 * std::int64_t{cx};
      const std::int64_t v = (px - dx) * B + (py - dy) * A + 256 * std::int64_t{cy};
      const std::int64_t sx = u >> 8, sy = v >> 8;
      if (sx >= 0 && sx < sw && sy >= 0 && sy < sh)
        out[py * W + px] = Src(static_cast<int>(sx), static_cast<int>(sy));
    }
  return out;
}

std::vector<std::uint16_t> Pixels(const DImage& img) {
  std::vector<std::uint16_t> out;
  for (std::uint32_t y = 0; y < img.GetHeight(); ++y)
    for (std::uint32_t x = 0; x < img.GetWidth(); ++x)
      out.push_back(At(img, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)));
  return out;
}

// Row padding past the picture's width stays 0xEE in every row.
bool GuardIntact(const DImage& img) {
  for (std::uint32_t y = 0; y < img.GetHeight(); ++y) {
    const std::uint8_t* row = img.GetPixelPointer(0, static_cast<std::int32_t>(y));
    for (std::uint32_t i = 2 * img.GetWidth(); i < img.GetPitch(); ++i)
      if (row[i] != 0xEE) return false;
  }
  return true;
}

TEST_F(DimgRotateTest, NegativeAngleUsesMaskedStepsForBoxAndWalk) {
  EXPECT_EQ(DimgAngleStep(-1.0f), 3445u);
  EXPECT_EQ(DimgAngleStep(1.0f), 651u);
  DImage src, dst;
  Make(src, 5, 4, true);
  Make(dst, 16, 16, false);
  const auto want = Model(dst, src, 8, 8, 2, 1, {3445, 651}, 1.5f);
  DimgRotate(dst, 8, 8, src, 2, 1, -1.0f, 1.5f);
  EXPECT_EQ(Pixels(dst), want);
}

TEST_F(DimgRotateTest, MatchesTheClosedFormOverRandomArguments) {
  std::mt19937 rng(77);
  std::uniform_real_distribution<float> angle(-20.0f, 20.0f), scale(0.1f, 5.0f);
  for (int round = 0; round < 300; ++round) {
    const bool bottom_up = round % 2 == 1;
    DImage src_top, dst_top;
    DImageDib src_dib, dst_dib;
    DImage& src = bottom_up ? static_cast<DImage&>(src_dib) : src_top;
    DImage& dst = bottom_up ? static_cast<DImage&>(dst_dib) : dst_top;
    const auto sw = 1 + rng() % 9, sh = 1 + rng() % 9;
    Make(src, sw, sh, true);
    Make(dst, 1 + rng() % 24, 1 + rng() % 24, false, 6);
    const int dx = static_cast<int>(rng() % 40) - 8, dy = static_cast<int>(rng() % 40) - 8;
    const int cx = static_cast<int>(rng() % 16) - 4, cy = static_cast<int>(rng() % 16) - 4;
    const float a = angle(rng), s = scale(rng);
    const Step st{DimgAngleStep(a), DimgAngleStep(-a)};
    const auto want = Model(dst, src, dx, dy, cx, cy, st, s);
    DimgRotate(dst, dx, dy, src, cx, cy, a, s);
    ASSERT_EQ(Pixels(dst), want) << "round " << round << " angle " << a << " scale " << s;
    ASSERT_TRUE(GuardIntact(dst)) << round;
  }
}

TEST_F(DimgRotateTest, ExtremeArgumentsAreSafe) {
  DImage src, dst;
  Make(src, 4, 4, true);
  Make(dst, 8, 8, false, 4);
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  // A NaN scale draws nothing.
  DimgRotate(dst, 4, 4, src, 1, 1, 0.5f, nan);
  EXPECT_EQ(Pixels(dst), std::vector<std::uint16_t>(64, kOld));
  // A NaN or infinite angle draws as angle 0.
  for (float a : {nan, inf, -inf}) {
    DImage ref, got;
    Make(ref, 8, 8, false);
    Make(got, 8, 8, false);
    DimgRotate(ref, 4, 4, src, 1, 1, 0.0f, 1.0f);
    DimgRotate(got, 4, 4, src, 1, 1, a, 1.0f);
    EXPECT_EQ(Pixels(got), Pixels(ref)) << a;
  }
  // Centres and points at the ends of the 32-bit range: nothing overflows (UBSan), nothing is
  // written outside the image.
  const std::int32_t ends[] = {INT_MIN, INT_MIN + 1, -(1 << 23), 1 << 23, INT_MAX};
  for (std::int32_t c : ends)
    for (std::int32_t d : ends)
      for (float a : {0.0f, 0.7f, 3.0f}) {
        DimgRotate(dst, d, 3, src, c, 1, a, 4.0f);
        DimgRotate(dst, 3, d, src, 1, c, a, 0.25f);
        DimgRotate(dst, d, d, src, c, c, a, 1.0f);
      }
  EXPECT_TRUE(GuardIntact(dst));
  // A centre far outside the source at a normal point: the box misses the picture's pixels.
  Make(dst, 8, 8, false);
  DimgRotate(dst, 4, 4, src, 1 << 23, 1 << 23, 0.0f, 1.0f);
  EXPECT_EQ(Pixels(dst), std::vector<std::uint16_t>(64, kOld));
}

}  // namespace
