// DRect conversions and DRoundToInt.
#include "base/dgeometry.h"

#include <cmath>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {
// Two's-complement wrap-around sums and differences, as the 32-bit arithmetic of the system.
int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
}  // namespace

DRect DRect::FromRECT(const RECT& r) {
  return DRect(r.left, r.top, WrapSub(r.right, r.left), WrapSub(r.bottom, r.top));
}

RECT DRect::ToRECT() const {
  return RECT{x, y, WrapAdd(x, width), WrapAdd(y, height)};
}

int32_t DRoundToInt(float value) {
#if defined(__SSE__)
  return _mm_cvtss_si32(_mm_set_ss(value));
#else
  if (!(value >= -2147483648.0f && value < 2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(std::nearbyint(value));
#endif
}
