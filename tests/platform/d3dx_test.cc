// The D3DX matrix helpers: hand-computed rotations, products and point transforms.
#include "platform/d3dx.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kDeg = 0.017453292f;

D3DXVECTOR4 Apply(const D3DXMATRIX& m, float x, float y) {
  D3DXVECTOR2 v{x, y};
  D3DXVECTOR4 out;
  EXPECT_EQ(D3DXVec2Transform(&out, &v, &m), &out);
  return out;
}

TEST(D3dx, RotationsMapAxesAsOnAYDownScreen) {
  D3DXMATRIX m;
  // Z 90: (1, 0) -> (0, 1), clockwise on a y-down screen; (0, 1) -> (-1, 0).
  EXPECT_EQ(D3DXMatrixRotationZ(&m, 90 * kDeg), &m);
  D3DXVECTOR4 p = Apply(m, 1, 0);
  EXPECT_NEAR(p.x, 0, 1e-6);
  EXPECT_NEAR(p.y, 1, 1e-6);
  EXPECT_FLOAT_EQ(p.w, 1);
  p = Apply(m, 0, 1);
  EXPECT_NEAR(p.x, -1, 1e-6);
  EXPECT_NEAR(p.y, 0, 1e-6);
  // X 60: y scales by cos, z picks up sin; x unchanged. No perspective division.
  D3DXMatrixRotationX(&m, 60 * kDeg);
  p = Apply(m, 3, 2);
  EXPECT_FLOAT_EQ(p.x, 3);
  EXPECT_NEAR(p.y, 1, 1e-6);
  EXPECT_NEAR(p.z, 2 * std::sin(60 * kDeg), 1e-6);
  EXPECT_FLOAT_EQ(p.w, 1);
  // Y 180 mirrors x; row (s, 0, c) sends z into x (none here: z is 0).
  D3DXMatrixRotationY(&m, 180 * kDeg);
  p = Apply(m, 3, 2);
  EXPECT_NEAR(p.x, -3, 1e-5);
  EXPECT_FLOAT_EQ(p.y, 2);
  EXPECT_NEAR(p.z, -3 * std::sin(180 * kDeg), 1e-6);  // row 0 column 2 is -s
  const float c = std::cos(0.5f), s = std::sin(0.5f);
  D3DXMatrixRotationY(&m, 0.5f);
  EXPECT_FLOAT_EQ(m.m[0][0], c);
  EXPECT_FLOAT_EQ(m.m[0][2], -s);
  EXPECT_FLOAT_EQ(m.m[2][0], s);
  EXPECT_FLOAT_EQ(m.m[3][3], 1);
  EXPECT_FLOAT_EQ(m.m[0][3], 0);
}

TEST(D3dx, ProductsComposeInRowVectorOrderAndMayAlias) {
  D3DXMATRIX a, b, ab, z90;
  D3DXMatrixRotationZ(&a, 45 * kDeg);
  D3DXMatrixRotationZ(&z90, 90 * kDeg);
  EXPECT_EQ(D3DXMatrixMultiply(&ab, &a, &a), &ab);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(ab.m[i][j], z90.m[i][j], 1e-6) << i << j;
  // Row vectors: v x (X x Z) turns about X first. (0, 1) -> X 90 -> (0, 0, 1) -> Z keeps z.
  D3DXMatrixRotationX(&a, 90 * kDeg);
  D3DXMatrixRotationZ(&b, 90 * kDeg);
  D3DXMatrixMultiply(&a, &a, &b);  // aliasing the output with an operand
  D3DXVECTOR4 p = Apply(a, 0, 1);
  EXPECT_NEAR(p.x, 0, 1e-6);
  EXPECT_NEAR(p.y, 0, 1e-6);
  EXPECT_NEAR(p.z, 1, 1e-6);
  // A translation row is added (w stays 1).
  D3DXMATRIX t{};
  for (int i = 0; i < 4; ++i) t.m[i][i] = 1;
  t.m[3][0] = 5;
  t.m[3][1] = -2;
  p = Apply(t, 1, 1);
  EXPECT_FLOAT_EQ(p.x, 6);
  EXPECT_FLOAT_EQ(p.y, -1);
}

}  // namespace
