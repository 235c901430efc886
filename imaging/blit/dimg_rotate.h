// Rotate-and-scale blit of 16-bit images, nearest neighbour.
#pragma once

#include <cstdint>

class DImage;

// Draws `src` into `dst` turned by `angle` radians (clockwise on screen for a positive angle) about
// the source point (cx, cy), which lands on (dx, dy), and magnified by `scale` (clamped to 0.25 ..
// 4; NaN draws nothing). Covered pixels get the source's raw 16-bit values, no key; pixels of the
// covering box whose source position lies outside the source keep their values. Sines come from
// DimgSinTable (DimgInitMathTables first); a NaN or infinite angle counts as 0. Rows are found
// through the images' own operations, so either row order works.
void DimgRotate(DImage& dst, std::int32_t dx, std::int32_t dy, const DImage& src, std::int32_t cx,
                std::int32_t cy, float angle, float scale);
