// The D3DX 7 utility library stand-in: start and end of its use (nothing to prepare here) and
// the matrix helpers the sprite units use. Matrices act on row vectors: v' = v x M.
#pragma once

#include "platform/com.h"
#include "platform/ddraw.h"
#include "platform/kernel.h"

struct D3DXMATRIX : D3DMATRIX {};
struct D3DXVECTOR2 {
  float x, y;
};
struct D3DXVECTOR4 {
  float x, y, z, w;
};

// Both always succeed: the utility functions the units use need no global state.
ORVANE_API HRESULT D3DXInitialize();
ORVANE_API HRESULT D3DXUninitialize();

// Rotations by `angle` radians, single precision, last row and column (0, 0, 0, 1):
// X rows (1, 0, 0), (0, c, s), (0, -s, c); Y rows (c, 0, -s), (0, 1, 0), (s, 0, c);
// Z rows (c, s, 0), (-s, c, 0), (0, 0, 1). Each returns `out`.
ORVANE_API D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
ORVANE_API D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
ORVANE_API D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);
// out = a x b; `out` may be either operand.
ORVANE_API D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b);
// out = (v.x, v.y, 0, 1) x m, without division by w.
ORVANE_API D3DXVECTOR4* D3DXVec2Transform(D3DXVECTOR4* out, const D3DXVECTOR2* v, const D3DXMATRIX* m);
