// DPoint and DRect value classes and DRoundToInt.
#pragma once

#include <cstdint>

#include "base/dobject.h"
#include "platform/wintypes.h"

// A point, or a size (x = width, y = height).
class DPoint : public DObject {
 public:
  DPoint() = default;
  DPoint(int32_t px, int32_t py) : x(px), y(py) {}

  int32_t x = 0;
  int32_t y = 0;
};

// A rectangle by its top-left corner and its size.
class DRect : public DObject {
 public:
  DRect() = default;
  DRect(int32_t px, int32_t py, int32_t w, int32_t h) : x(px), y(py), width(w), height(h) {}
  // From a system rectangle: (left, top, right - left, bottom - top).
  static DRect FromRECT(const RECT& r);
  // To a system rectangle: right = x + width, bottom = y + height.
  RECT ToRECT() const;

  int32_t x = 0;  // left edge
  int32_t y = 0;  // top edge
  int32_t width = 0;
  int32_t height = 0;
};

// The integer the floating-point unit's current rounding mode selects (by default the nearest,
// ties to even). NaN and values outside the i32 range give INT32_MIN, as the hardware does.
int32_t DRoundToInt(float value);
