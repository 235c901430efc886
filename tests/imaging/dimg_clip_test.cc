// Tests of rectangle clipping: worked examples of the three clips and a property test that no
// rectangle, however large or misplaced, comes out reaching outside its image.
#include "imaging/dimg_clip.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace {

struct R {
  std::int32_t x, y;
  std::uint32_t w, h;
  bool operator==(const R&) const = default;
};
std::ostream& operator<<(std::ostream& os, const R& r) {
  return os << "(" << r.x << ", " << r.y << ", " << r.w << ", " << r.h << ")";
}

TEST(DimgClipTest, SingleRectangle) {
  struct Case {
    R in;
    std::uint32_t iw, ih;
    R want;
  };
  const Case cases[] = {
      {{-3, 0, 10, 5}, 100, 100, {0, 0, 7, 5}},
      {{-20, 0, 10, 5}, 100, 100, {0, 0, 0, 5}},
      {{95, 0, 10, 5}, 100, 100, {95, 0, 5, 5}},
      {{120, 0, 10, 5}, 100, 100, {120, 0, 0, 5}},  // x stays beyond the edge
      {{0, -4, 3, 6}, 100, 100, {0, 0, 3, 2}},
      {{0, 98, 3, 6}, 100, 100, {0, 98, 3, 2}},
      {{0, 0, 0xFFFFFFFFu, 5}, 100, 100, {0, 0, 0, 5}},                   // -1 as a width: nothing
      {{0x7FFFFFFF, 0, 0x7FFFFFFF, 5}, 100, 100, {0x7FFFFFFF, 0, 0, 5}},  // the sum would wrap
      {{-2147483647 - 1, 0, 0x7FFFFFFF, 1}, 100, 100, {0, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    R r = c.in;
    DimgClip(r.x, r.y, r.w, r.h, c.iw, c.ih);
    EXPECT_EQ(r, c.want) << "from " << c.in;
  }
}

TEST(DimgClipTest, SameSizeBlit) {
  struct Case {
    std::int32_t dx, dy, sx, sy;
    std::uint32_t w, h;
    std::int32_t want_dx, want_dy, want_sx, want_sy;
    std::uint32_t want_w, want_h;
  };
  // Destination 100 x 100, source 50 x 40.
  const Case cases[] = {
      {-3, 0, 2, 0, 10, 5, 0, 0, 5, 0, 7, 5},
      {-3, 0, -5, 0, 10, 5, 2, 0, 0, 0, 5, 5},  // both left edges: 5 columns cut in all
      {-10, 0, 0, 0, 4, 5, 0, 0, 10, 0, 0, 5},  // the full margin moves the source on
      {0, -2, 0, -6, 10, 10, 0, 4, 0, 0, 10, 4},
      {95, 0, 0, 0, 10, 5, 95, 0, 0, 0, 5, 5},
      {0, 0, 45, 38, 10, 10, 0, 0, 45, 38, 5, 2},
      {0, 0, 0, 0, 0x80000000u, 5, 0, 0, 0, 0, 0, 5},
      {-2147483647 - 1, 0, 0x7FFFFFFF, 0, 5, 5, 0, 0, 0x7FFFFFFF, 0, 0, 5},  // origin leaves 32 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy << " " << c.sx << "," << c.sy << " " << c.w << "x"
                                    << c.h);
    std::int32_t dx = c.dx, dy = c.dy, sx = c.sx, sy = c.sy;
    std::uint32_t w = c.w, h = c.h;
    DimgClipBoth(dx, dy, sx, sy, w, h, 100, 100, 50, 40);
    EXPECT_EQ(w, c.want_w);
    EXPECT_EQ(h, c.want_h);
    if (c.want_w != 0) {
      EXPECT_EQ(dx, c.want_dx);
      EXPECT_EQ(sx, c.want_sx);
    }
    if (c.want_h != 0) {
      EXPECT_EQ(dy, c.want_dy);
      EXPECT_EQ(sy, c.want_sy);
    }
  }
}

TEST(DimgClipTest, StretchedBlit) {
  struct Case {
    R dst, src;
    std::uint32_t dw_img, dh_img, sw_img, sh_img;
    R want_dst, want_src;
  };
  const Case cases[] = {
      // The top cut of 5 rows is 2.5 source rows, rounded to even: 2.
      {{-10, -5, 100, 50}, {0, 0, 50, 25}, 640, 480, 50, 25, {0, 0, 90, 45}, {5, 2, 45, 23}},
      {{600, 0, 100, 50}, {0, 0, 50, 25}, 640, 480, 50, 25, {600, 0, 40, 50}, {0, 0, 20, 25}},
      {{0, 0, 100, 50}, {-3, 0, 50, 25}, 640, 480, 50, 25, {6, 0, 94, 50}, {0, 0, 47, 25}},
      {{0, 0, 100, 50}, {40, 0, 50, 25}, 640, 480, 50, 25, {0, 0, 20, 50}, {40, 0, 10, 25}},
      {{700, 0, 100, 50}, {0, 0, 50, 25}, 640, 480, 50, 25, {700, 0, 0, 50}, {0, 0, 0, 25}},
      {{0, 0, 100, 50}, {0, 0, 0, 25}, 640, 480, 50, 25, {0, 0, 100, 50}, {0, 0, 0, 25}},  // untouched
      {{0, 0, 30, 30}, {0, 0, 10, 10}, 640, 480, 10, 10, {0, 0, 30, 30}, {0, 0, 10, 10}},
      // Shrinking: 1 destination column cut is 3 source columns.
      {{-1, 0, 10, 10}, {0, 0, 30, 10}, 640, 480, 30, 10, {0, 0, 9, 10}, {3, 0, 27, 10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dst << " <- " << c.src);
    R d = c.dst, s = c.src;
    DimgClipStretch(d.x, d.y, d.w, d.h, s.x, s.y, s.w, s.h, c.dw_img, c.dh_img, c.sw_img, c.sh_img);
    EXPECT_EQ(d, c.want_dst);
    EXPECT_EQ(s, c.want_src);
  }
}

TEST(DimgClipTest, ZeroDestinationSizeInStretchIsEmptyWithoutDividing) {
  for (const R& dst : {R{-5, -5, 0, 10}, R{-5, -5, 10, 0}, R{3, 3, 0, 0}}) {
    R d = dst, s = {-2, -2, 10, 10};
    DimgClipStretch(d.x, d.y, d.w, d.h, s.x, s.y, s.w, s.h, 100, 100, 100, 100);  // UBSan checks the division
    EXPECT_EQ(d.w * d.h, 0u);
    EXPECT_EQ(s.w * s.h, 0u);
  }
}

// Rectangles of every kind: inside, overlapping, far outside, huge and negative sizes.
TEST(DimgClipTest, ClippedRectanglesAlwaysLieInsideBothImages) {
  std::mt19937 rng(20261210);
  const auto pos = [&]() -> std::int32_t {
    switch (rng() % 4) {
      case 0:
        return static_cast<std::int32_t>(rng());
      case 1:
        return static_cast<std::int32_t>(rng() % 200) - 100;
      case 2:
        return (rng() % 2 ? 1 : -1) * static_cast<std::int32_t>(0x7FFFFF00u + rng() % 256);
      default:
        return static_cast<std::int32_t>(rng() % 40);
    }
  };
  const auto size = [&]() -> std::uint32_t {
    switch (rng() % 4) {
      case 0:
        return rng();
      case 1:
        return 0x7FFFFFF0u + rng() % 32;
      default:
        return rng() % 120;
    }
  };
  for (int i = 0; i < 200000; ++i) {
    const std::uint32_t dwi = rng() % 70, dhi = rng() % 70, swi = rng() % 70, shi = rng() % 70;
    R d = {pos(), pos(), size(), size()};
    R s = {pos(), pos(), size(), size()};
    const R d0 = d, s0 = s;
    DimgClipStretch(d.x, d.y, d.w, d.h, s.x, s.y, s.w, s.h, dwi, dhi, swi, shi);
    if (s0.w != 0 && s0.h != 0 && s0.w < 0x80000000u && s0.h < 0x80000000u && d.w && d.h && s.w && s.h) {
      ASSERT_TRUE(DimgRectInside(d.x, d.y, d.w, d.h, dwi, dhi)) << d0 << " -> " << d;
      ASSERT_TRUE(DimgRectInside(s.x, s.y, s.w, s.h, swi, shi)) << s0 << " -> " << s;
    }
    R b = d0;
    std::int32_t sx = s0.x, sy = s0.y;
    DimgClipBoth(b.x, b.y, sx, sy, b.w, b.h, dwi, dhi, swi, shi);
    ASSERT_TRUE(DimgRectInside(b.x, b.y, b.w, b.h, dwi, dhi)) << d0 << " -> " << b;
    ASSERT_TRUE(DimgRectInside(sx, sy, b.w, b.h, swi, shi)) << s0 << " -> " << b;
    R one = d0;
    DimgClip(one.x, one.y, one.w, one.h, dwi, dhi);
    ASSERT_TRUE(DimgRectInside(one.x, one.y, one.w, one.h, dwi, dhi)) << d0 << " -> " << one;
  }
}

}  // namespace
