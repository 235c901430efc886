// Tests of the start-up tables against their definitions and of the table lookups.
#include "imaging/dimg_tables.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

namespace {

class DimgTablesTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(DimgInitMathTables());
    ASSERT_TRUE(DimgInitYCrCbTables());
  }
};

TEST_F(DimgTablesTest, SineTableSpotValuesAndCosineOverlap) {
  EXPECT_EQ(DimgSinTable[0], 0.0f);
  EXPECT_EQ(DimgSinTable[1024], 1.0f);
  EXPECT_EQ(DimgSinTable[3072], -1.0f);
  EXPECT_NEAR(DimgSinTable[2048], 1.2246e-16f, 1e-19f);
  EXPECT_NEAR(DimgSinTable[4096], -2.4493e-16f, 1e-19f);
  EXPECT_EQ(DimgSinTable[5119], 0.99999881f);
  EXPECT_EQ(DimgSinTable[512], static_cast<float>(std::sqrt(0.5)));
  for (int i = 0; i < kDimgSinTableSize; ++i) {
    // Every entry, the cosine quarter too, is sin(i * 2pi / 4096) rounded once to single precision.
    ASSERT_EQ(DimgSinTable[i], static_cast<float>(std::sin(i * (2 * M_PI / 4096)))) << i;
    if (i < 4096) {
      ASSERT_NEAR(DimgSinTable[i + 1024], std::cos(i * (2 * M_PI / 4096)), 1e-7) << i;
    }
  }
}

TEST_F(DimgTablesTest, SquareRootTableHoldsEveryCorrectlyRoundedMantissa) {
  DimgTableSqrt(1.0f);  // the first lookup fills the table
  for (std::uint32_t j = 0; j < 32768; ++j) {
    const double two_to_four = 2.0 * (1.0 + j / 32768.0);
    const double one_to_two = 1.0 + j / 32768.0;
    const auto mantissa = [](double x) {
      return std::bit_cast<std::uint32_t>(static_cast<float>(std::sqrt(x))) & 0x7FFFFFu;
    };
    ASSERT_EQ(DimgSqrtTable[j], mantissa(two_to_four)) << j;
    ASSERT_EQ(DimgSqrtTable[32768 + j], mantissa(one_to_two)) << j;
  }
}

TEST_F(DimgTablesTest, LookupsOfAnglesAndRoots) {
  EXPECT_EQ(DimgTableSin(0.0), 0.0f);
  EXPECT_EQ(DimgTableCos(0.0), 1.0f);
  EXPECT_EQ(DimgAngleStep(-0.001), 0u);  // truncation toward zero
  EXPECT_EQ(DimgAngleStep(-0.002), 4095u);
  EXPECT_EQ(DimgAngleStep(M_PI / 2 + 1e-9), 1024u);
  EXPECT_EQ(DimgAngleStep(2 * M_PI * 3 + 0.5 * 2 * M_PI / 4096), 0u);  // wraps every turn
  EXPECT_EQ(DimgAngleStep(NAN), 0u);
  EXPECT_EQ(DimgAngleStep(1e300), 0u);
  EXPECT_EQ(DimgAngleStep(-1e300), 0u);

  struct Case {
    float in, want;
  };
  const Case roots[] = {{1.0f, 1.0f}, {4.0f, 2.0f}, {2.0f, 1.41421354f},  {0.25f, 0.5f},
                        {0.0f, 0.0f}, {9.0f, 3.0f}, {1048576.0f, 1024.0f}};
  for (const Case& c : roots) EXPECT_EQ(DimgTableSqrt(c.in), c.want) << c.in;
}

// The thirteen YCrCb tables against their definition: i (or i - 128) times the coefficient,
// rounded to the nearest integer with halves away from zero.
TEST_F(DimgTablesTest, YCrCbTablesEqualTheirDefinition) {
  struct Table {
    const std::int32_t* t;
    double k;
    int offset;
    std::int32_t at0, at255;
  };
  const DimgYCrCbTables& y = YCrCbTables;
  const Table tables[] = {
      {y.y_r, 38.272, 0, 0, 9759},
      {y.y_g, 75.136, 0, 0, 19160},
      {y.y_b, 14.592, 0, 0, 3721},
      {y.cr_r, 64, 0, 0, 16320},
      {y.cr_g, -53.59232, 0, 0, -13666},
      {y.cr_b, -10.40768, 0, 0, -2654},
      {y.cb_r, -21.59872, 0, 0, -5508},
      {y.cb_g, -42.40128, 0, 0, -10812},
      {y.cb_b, 64, 0, 0, 16320},
      {y.r_cr, 1.402, 128, -179, 178},
      {y.g_cr, -91.40992, 128, 11700, -11609},
      {y.g_cb, -44.04992, 128, 5638, -5594},
      {y.b_cb, 1.772, 128, -227, 225},
  };
  for (const Table& t : tables) {
    SCOPED_TRACE(t.k);
    EXPECT_EQ(t.t[0], t.at0);
    EXPECT_EQ(t.t[255], t.at255);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(t.t[i], std::lround((i - t.offset) * t.k)) << i;
  }
  EXPECT_EQ(y.b_cb[3], -222);  // the two exact halves
  EXPECT_EQ(y.b_cb[253], 222);
  EXPECT_EQ(y.y_r[1], 38);
  EXPECT_EQ(y.cr_g[1], -54);
}

}  // namespace
