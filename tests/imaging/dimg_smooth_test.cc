// Filtered stretch: worked examples, the alpha thresholds, one-direction changes, row orders,
// degenerate sizes and very long lines.
#include "imaging/blit/dimg_smooth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/dimage.h"

namespace {

constexpr auto k565 = DimgFormat::RGB565;
constexpr auto k1555 = DimgFormat::ARGB1555;

void Make(DImage& img, std::uint32_t w, std::uint32_t h, DimgFormat f, std::uint16_t fill = 0xAAAA) {
  img.Destroy();
  ASSERT_TRUE(img.Create(w, h, 0, f));
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) std::memcpy(img.GetPixelPointer(x, y), &fill, 2);
}
void SetRow(DImage& img, std::uint32_t y, const std::vector<std::uint16_t>& px) {
  for (std::size_t x = 0; x < px.size(); ++x)
    std::memcpy(img.GetPixelPointer(static_cast<std::int32_t>(x), y), &px[x], 2);
}
std::vector<std::uint16_t> Row(const DImage& img, std::uint32_t y) {
  std::vector<std::uint16_t> out(img.GetWidth());
  for (std::size_t x = 0; x < out.size(); ++x)
    std::memcpy(&out[x], img.GetPixelPointer(static_cast<std::int32_t>(x), y), 2);
  return out;
}
std::vector<std::uint16_t> All(const DImage& img) {
  std::vector<std::uint16_t> out;
  for (std::uint32_t y = 0; y < img.GetHeight(); ++y) {
    const auto r = Row(img, y);
    out.insert(out.end(), r.begin(), r.end());
  }
  return out;
}

// The whole of src stretched onto the whole of dst.
void Stretch(DImage& dst, const DImage& src) {
  const auto fn = src.GetFormat() == k565 ? &DimgStretchSmoothRGB565 : &DimgStretchSmoothARGB1555;
  fn(dst.GetTopLine(), dst, 0, 0, dst.GetWidth(), dst.GetHeight(), src.GetTopLine(), src, 0, 0,
     src.GetWidth(), src.GetHeight(), 0, 0);
}

// One source row of RGB565 pixels stretched to n pixels in one row.
std::vector<std::uint16_t> StretchRow(const std::vector<std::uint16_t>& px, std::uint32_t n) {
  DImage src, dst;
  Make(src, static_cast<std::uint32_t>(px.size()), 1, k565);
  SetRow(src, 0, px);
  Make(dst, n, 1, k565);
  Stretch(dst, src);
  return Row(dst, 0);
}

TEST(DimgSmoothTest, WorkedRowExamples) {
  struct Case {
    std::vector<std::uint16_t> in;
    std::uint32_t n;
    std::vector<std::uint16_t> want;
  };
  const Case cases[] = {
      {{0xFFFF, 0xFFFF}, 3, {0xFFDF, 0xFFDF, 0xFFDF}},                  // bit 5 clear even uninterpolated
      {{0xF800, 0xFFFF}, 4, {0xF800, 0xFBCF, 0xFFDF, 0xFFDF}},          // the last input repeated
      {{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, 2, {0xFFDF, 0xFFDF}},          // 4 -> 2
      {{0xFFFF, 0xFFFF, 0xFFFF}, 2, {0xFFDF, 0xFFDF}},                  // 3 -> 2: the last not darker
      {{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, 2, {0xFFDF, 0xFFDF}},  // 5 -> 2 likewise
      {{0xFFFF, 0x0000, 0xF800}, 2, {0xA514, 0xA000}},  // red 165 = 248 * 256 / 384, then the whole red
      {{0x1234}, 5, {0x1214, 0x1214, 0x1214, 0x1214, 0x1214}},  // one pixel enlarged
  };
  for (const Case& c : cases) EXPECT_EQ(StretchRow(c.in, c.n), c.want) << c.in.size() << " -> " << c.n;
}

TEST(DimgSmoothTest, EqualClippedSizesCopyRawPixels) {
  DImage src, dst;
  Make(src, 3, 2, k565, 0xFFFF);
  Make(dst, 5, 4, k565, 0);
  // The source rectangle reaches out of the source: clipped to 2 x 2 on both sides.
  DimgStretchSmoothRGB565(dst.GetTopLine(), dst, 1, 1, 3, 3, src.GetTopLine(), src, 1, 0, 3, 3);
  EXPECT_EQ(Row(dst, 1), (std::vector<std::uint16_t>{0, 0xFFFF, 0xFFFF, 0, 0}));
  EXPECT_EQ(Row(dst, 2), (std::vector<std::uint16_t>{0, 0xFFFF, 0xFFFF, 0, 0}));
  EXPECT_EQ(Row(dst, 3), (std::vector<std::uint16_t>(5, 0)));
}

// Channel bytes of the temporary after a horizontal pass.
std::vector<std::uint8_t> RedOfPass(const std::vector<std::uint16_t>& in, std::uint32_t n, bool enlarge) {
  DImage src, tmp;
  Make(src, static_cast<std::uint32_t>(in.size()), 1, k565);
  SetRow(src, 0, in);
  EXPECT_TRUE(tmp.Create(n, 1, 0, DimgFormat::RGBA8888));
  if (enlarge) {
    DimgSmoothEnlargeH<k565>(tmp.GetTopLine(), tmp, n, src.GetTopLine(), src, src.GetWidth(), 1);
  } else {
    DimgSmoothReduceH<k565>(tmp.GetTopLine(), tmp, n, src.GetTopLine(), src, src.GetWidth(), 1);
  }
  std::vector<std::uint8_t> red;
  for (std::uint32_t k = 0; k < n; ++k) {
    red.push_back(tmp.GetTopLine()[4 * k]);
    if (enlarge) {
      EXPECT_EQ(tmp.GetTopLine()[4 * k + 3], 255);  // RGB565 alpha
    }
  }
  return red;
}

TEST(DimgSmoothTest, PassChannelExamples) {
  // Red 248, 0, 248 to five: positions 0, 0.6, 1.2, 1.8, 2.4.
  EXPECT_EQ(RedOfPass({0xF800, 0x0000, 0xF800}, 5, true), (std::vector<std::uint8_t>{248, 99, 49, 198, 248}));
  // Exact halving: floor((c0 + c1) * 256 / 512).
  EXPECT_EQ(RedOfPass({0xF800, 0x0800, 0x8000, 0x9000}, 2, false),
            (std::vector<std::uint8_t>{(248 + 8) / 2, (128 + 144) / 2}));
  // Three to two: white, black, red gives red 165 first.
  EXPECT_EQ(RedOfPass({0xFFFF, 0x0000, 0xF800}, 2, false)[0], 165);
}

// ARGB1555 alpha is interpolated like a colour: the bit is set from 128.
TEST(DimgSmoothTest, Argb1555AlphaThresholds) {
  auto bits = [](std::uint16_t a, std::uint16_t b, std::uint32_t n) {
    DImage src, dst;
    Make(src, 2, 1, k1555);
    SetRow(src, 0, {a, b});
    Make(dst, n, 1, k1555);
    Stretch(dst, src);
    std::vector<int> out;
    for (std::uint16_t p : Row(dst, 0)) out.push_back(p >> 15);
    return out;
  };
  EXPECT_EQ(bits(0x0000, 0x8000, 4), (std::vector<int>{0, 0, 1, 1}));
  EXPECT_EQ(bits(0x8000, 0x0000, 4), (std::vector<int>{1, 0, 0, 0}));
  // Over many lengths, the bit between neighbours 0 and 1 follows f from the position rule:
  // transparent -> opaque set from f = 32897, opaque -> transparent set up to f = 32639.
  for (std::uint32_t n : {3u, 7u, 97u, 255u, 1000u}) {
    const auto up = bits(0x0000, 0x8000, n), down = bits(0x8000, 0x0000, n);
    const float step = static_cast<float>(2.0 / n);
    double x = 0;
    for (std::uint32_t k = 0; k < n; ++k, x += step) {
      if (x >= 1.0) {
        EXPECT_EQ(up[k], 1);
        EXPECT_EQ(down[k], 0);
        continue;
      }
      const auto f = static_cast<std::uint32_t>(x * 65536);
      EXPECT_EQ(up[k], f >= 32897 ? 1 : 0) << n << " " << k << " f " << f;
      EXPECT_EQ(down[k], f <= 32639 ? 1 : 0) << n << " " << k << " f " << f;
    }
  }
}

// A 5 x 4 picture of distinct pixels.
void Picture(DImage& img, std::uint32_t w, std::uint32_t h, DimgFormat f) {
  Make(img, w, h, f);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) {
      const auto v = static_cast<std::uint16_t>((x * 7919 + y * 104729) * 2654435761u >> 16);
      std::memcpy(img.GetPixelPointer(x, y), &v, 2);
    }
}

TEST(DimgSmoothTest, ChangingOneDirectionFiltersOnlyThatDirection) {
  DImage src;
  Picture(src, 5, 4, k565);
  // Width only: each destination row is its source row stretched alone.
  DImage wide;
  Make(wide, 9, 4, k565);
  Stretch(wide, src);
  for (std::uint32_t y = 0; y < 4; ++y) EXPECT_EQ(Row(wide, y), StretchRow(Row(src, y), 9)) << y;
  // Height only: each destination column is its source column stretched alone.
  DImage tall;
  Make(tall, 5, 7, k565);
  Stretch(tall, src);
  for (std::uint32_t x = 0; x < 5; ++x) {
    DImage col, out;
    Make(col, 1, 4, k565);
    for (std::uint32_t y = 0; y < 4; ++y) SetRow(col, y, {Row(src, y)[x]});
    Make(out, 1, 7, k565);
    Stretch(out, col);
    for (std::uint32_t y = 0; y < 7; ++y) EXPECT_EQ(Row(tall, y)[x], Row(out, y)[0]) << x << "," << y;
  }
  // Both equal after clipping: no filtering at all, bit 5 kept.
  DImage same;
  Make(same, 5, 4, k565);
  Stretch(same, src);
  EXPECT_EQ(All(same), All(src));
}

TEST(DimgSmoothTest, RowOrderOfSourceTemporaryAndDestinationDoesNotMatter) {
  for (DimgFormat f : {k565, k1555})
    for (auto [dw, dh] : {std::pair{9u, 3u}, std::pair{3u, 9u}, std::pair{2u, 2u}, std::pair{11u, 7u}}) {
      DImage src_top, dst_top;
      DImageDib src_dib, dst_dib;
      Picture(src_top, 5, 4, f);
      Picture(src_dib, 5, 4, f);
      Make(dst_top, dw, dh, f);
      Make(dst_dib, dw, dh, f);
      Stretch(dst_top, src_top);
      Stretch(dst_dib, src_dib);
      EXPECT_EQ(All(dst_dib), All(dst_top)) << dw << "x" << dh;
      // The passes by hand through a bottom-up temporary.
      DImageDib tmp;
      ASSERT_TRUE(tmp.Create(dw, 4, 0, DimgFormat::RGBA8888));
      DImage by_hand;
      Make(by_hand, dw, dh, f);
      auto run = [&](auto fmt) {
        constexpr DimgFormat F = decltype(fmt)::value;
        if (dw >= 5) {
          DimgSmoothEnlargeH<F>(tmp.GetTopLine(), tmp, dw, src_top.GetTopLine(), src_top, 5, 4);
        } else {
          DimgSmoothReduceH<F>(tmp.GetTopLine(), tmp, dw, src_top.GetTopLine(), src_top, 5, 4);
        }
        if (dh >= 4) {
          DimgSmoothEnlargeV<F>(by_hand.GetTopLine(), by_hand, tmp.GetTopLine(), tmp, 4, dw, dh);
        } else {
          DimgSmoothReduceV<F>(by_hand.GetTopLine(), by_hand, tmp.GetTopLine(), tmp, 4, dw, dh);
        }
      };
      if (f == k565) {
        run(std::integral_constant<DimgFormat, k565>{});
      } else {
        run(std::integral_constant<DimgFormat, k1555>{});
      }
      EXPECT_EQ(All(by_hand), All(dst_top)) << dw << "x" << dh;
    }
}

TEST(DimgSmoothTest, NothingOutsideTheRectangleChanges) {
  DImage src, dst;
  Picture(src, 6, 6, k1555);
  for (auto [dw, dh] : {std::pair{3u, 4u}, std::pair{8u, 2u}, std::pair{9u, 9u}}) {
    Make(dst, 14, 14, k1555, 0x5555);
    DimgStretchSmoothARGB1555(dst.GetTopLine(), dst, 2, 3, dw, dh, src.GetTopLine(), src, 1, 1, 4, 5);
    for (std::uint32_t y = 0; y < 14; ++y)
      for (std::uint32_t x = 0; x < 14; ++x) {
        const bool inside = x >= 2 && x < 2 + dw && y >= 3 && y < 3 + dh;
        if (!inside) {
          EXPECT_EQ(Row(dst, y)[x], 0x5555) << x << "," << y;
        }
      }
  }
}

TEST(DimgSmoothTest, DegenerateSizesWriteNothing) {
  DImage src, dst;
  Picture(src, 4, 4, k565);
  Make(dst, 6, 6, k565, 0x5555);
  const auto before = All(dst);
  // Zero source or destination sizes, and a source rectangle wholly outside the source.
  DimgStretchSmoothRGB565(dst.GetTopLine(), dst, 0, 0, 5, 5, src.GetTopLine(), src, 0, 0, 0, 3);
  DimgStretchSmoothRGB565(dst.GetTopLine(), dst, 0, 0, 5, 5, src.GetTopLine(), src, 0, 0, 3, 0);
  DimgStretchSmoothRGB565(dst.GetTopLine(), dst, 0, 0, 0, 5, src.GetTopLine(), src, 0, 0, 3, 3);
  DimgStretchSmoothRGB565(dst.GetTopLine(), dst, 0, 0, 5, 5, src.GetTopLine(), src, 9, 9, 3, 3);
  DimgStretchSmoothRGB565(dst.GetTopLine(), dst, 0, 0, 5, 5, src.GetTopLine(), src, -9, 0, 3, 3);
  // The passes themselves with zero counts.
  DImage tmp;
  ASSERT_TRUE(tmp.Create(5, 2, 0, DimgFormat::RGBA8888));
  DimgSmoothEnlargeH<k565>(tmp.GetTopLine(), tmp, 5, src.GetTopLine(), src, 0, 2);
  DimgSmoothReduceV<k565>(dst.GetTopLine(), dst, tmp.GetTopLine(), tmp, 0, 5, 1);
  DimgSmoothEnlargeV<k565>(dst.GetTopLine(), dst, tmp.GetTopLine(), tmp, 0, 5, 5);
  EXPECT_EQ(All(dst), before);
  // A temporary beyond the image size cap (2^20 x 300 RGBA pixels) is not made: nothing drawn.
  DImage wide, tall;
  Make(wide, 1u << 20, 1, k565, 0x5555);
  Make(tall, 1, 300, k565, 0xFFFF);
  DimgStretchSmoothRGB565(wide.GetTopLine(), wide, 0, 0, 1u << 20, 1, tall.GetTopLine(), tall, 0, 0, 1, 300);
  EXPECT_EQ(Row(wide, 0)[0], 0x5555);
  EXPECT_EQ(Row(wide, 0)[(1u << 20) - 1], 0x5555);
}

// Lines of 70000 pixels and more: positions stay inside the source (ASan watches the reads) and
// a white line stays white but for the truncation of the averaging weights (one 5-bit step).
TEST(DimgSmoothTest, VeryLongLines) {
  auto near_white = [](const std::vector<std::uint16_t>& px, DimgFormat f) {
    const int rs = f == k565 ? 11 : 10, gs = f == k565 ? 6 : 5;
    for (std::uint16_t p : px) {
      if (((p >> rs) & 31) < 30 || ((p >> gs) & 31) < 30 || (p & 31) < 30) return false;
      if (f == k1555 && !(p & 0x8000)) return false;
    }
    return true;
  };
  for (DimgFormat f : {k565, k1555})
    for (auto [sw, dw] : {std::pair{70001u, 70000u}, std::pair{70000u, 70001u}, std::pair{3u, 70000u},
                          std::pair{70000u, 3u}}) {
      DImage src, dst;
      Make(src, sw, 1, f, 0xFFFF);
      Make(dst, dw, 1, f, 0);
      Stretch(dst, src);
      EXPECT_TRUE(near_white(Row(dst, 0), f)) << sw << " -> " << dw;
      // The same lengths vertically.
      Make(src, 1, sw, f, 0xFFFF);
      Make(dst, 1, dw, f, 0);
      Stretch(dst, src);
      EXPECT_TRUE(near_white(All(dst), f)) << sw << " -> " << dw << " vertical";
    }
}

}  // namespace
