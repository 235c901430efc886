// Tests of DPoint, DRect and DRoundToInt.
#include "base/dgeometry.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>

namespace {

TEST(DGeometry, DefaultsAndSystemRectangles) {
  DPoint p;
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
  const RECT empty = DRect().ToRECT();
  EXPECT_EQ(empty.left, 0);
  EXPECT_EQ(empty.top, 0);
  EXPECT_EQ(empty.right, 0);
  EXPECT_EQ(empty.bottom, 0);

  const RECT r = DRect(10, 20, 30, 40).ToRECT();
  EXPECT_EQ(r.right, 40);
  EXPECT_EQ(r.bottom, 60);
  const DRect back = DRect::FromRECT(RECT{-5, 7, 15, 7});
  EXPECT_EQ(back.x, -5);
  EXPECT_EQ(back.y, 7);
  EXPECT_EQ(back.width, 20);
  EXPECT_EQ(back.height, 0);
  // Extreme edges wrap as 32-bit arithmetic instead of overflowing.
  const RECT wide = DRect(INT32_MAX, 0, 1, 0).ToRECT();
  EXPECT_EQ(wide.right, INT32_MIN);
}

TEST(DRoundToInt, NearestTiesToEven) {
  struct Case {
    float in;
    int32_t out;
  };
  const Case cases[] = {
      {2.5f, 2},   {3.5f, 4},   {-0.4f, 0},       {0.5f, 0},          {1.5f, 2},
      {-2.5f, -2}, {-2.6f, -3}, {0.49999997f, 0}, {1e9f, 1000000000}, {-2147483648.0f, INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(DRoundToInt(c.in), c.out) << c.in;
}

TEST(DRoundToInt, FollowsCurrentModeAndHandlesOutOfRange) {
  const int old = std::fegetround();
  std::fesetround(FE_TOWARDZERO);
  EXPECT_EQ(DRoundToInt(2.9f), 2);
  EXPECT_EQ(DRoundToInt(-2.9f), -2);
  std::fesetround(FE_DOWNWARD);
  EXPECT_EQ(DRoundToInt(-0.1f), -1);
  std::fesetround(old);
  EXPECT_EQ(DRoundToInt(3e9f), INT32_MIN);
  EXPECT_EQ(DRoundToInt(std::numeric_limits<float>::quiet_NaN()), INT32_MIN);
  EXPECT_EQ(DRoundToInt(-std::numeric_limits<float>::infinity()), INT32_MIN);
}

}  // namespace
