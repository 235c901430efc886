// The D3DX matrix helpers: rotations, products and 2D point transforms in single precision.
#include "platform/d3dx.h"

#include <cmath>

namespace {

D3DXMATRIX* Rows(D3DXMATRIX* out, const float (&r)[3][3]) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[i][j] = (i < 3 && j < 3) ? r[i][j] : (i == j ? 1.0f : 0.0f);
  return out;
}

}  // namespace

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  return Rows(out, {{1, 0, 0}, {0, c, s}, {0, -s, c}});
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  return Rows(out, {{c, 0, -s}, {0, 1, 0}, {s, 0, c}});
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  return Rows(out, {{c, s, 0}, {-s, c, 0}, {0, 0, 1}});
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b) {
  D3DXMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a->m[i][k] * b->m[k][j];
      r.m[i][j] = sum;
    }
  *out = r;
  return out;
}

D3DXVECTOR4* D3DXVec2Transform(D3DXVECTOR4* out, const D3DXVECTOR2* v, const D3DXMATRIX* m) {
  const float x = v->x, y = v->y;
  D3DXVECTOR4 r;
  r.x = x * m->m[0][0] + y * m->m[1][0] + m->m[3][0];
  r.y = x * m->m[0][1] + y * m->m[1][1] + m->m[3][1];
  r.z = x * m->m[0][2] + y * m->m[1][2] + m->m[3][2];
  r.w = x * m->m[0][3] + y * m->m[1][3] + m->m[3][3];
  *out = r;
  return out;
}
