// Filtered stretch of 16-bit images: linear interpolation where a direction grows (or keeps its
// size), area averaging where it shrinks, in two passes through a temporary RGBA8888 image.
#pragma once

#include <cstdint>

#include "imaging/dimg_format.h"

class DImage;

// Filtered stretch of a rectangle of one RGB565 (ARGB1555) image into a rectangle of another, with
// the arguments of a blitter pair function: both top lines (GetTopLine), both images, the two
// rectangles, and an alpha and a trailing byte that are not read. Both rectangles are clipped
// (DimgClipStretch); equal clipped sizes copy the raw pixels; otherwise the two passes run. RGB565
// output of the passes has bit 5 clear; ARGB1555 alpha is filtered like a colour (set from 128).
// An empty rectangle on either side, or a temporary image beyond the image size cap, writes nothing.
void DimgStretchSmoothRGB565(std::uint8_t* dst_top, DImage& dst, std::int32_t dx, std::int32_t dy,
                             std::uint32_t dw, std::uint32_t dh, const std::uint8_t* src_top,
                             const DImage& src, std::int32_t sx, std::int32_t sy, std::uint32_t sw,
                             std::uint32_t sh, std::uint8_t alpha = 0, std::uint8_t trailing = 0);
void DimgStretchSmoothARGB1555(std::uint8_t* dst_top, DImage& dst, std::int32_t dx, std::int32_t dy,
                               std::uint32_t dw, std::uint32_t dh, const std::uint8_t* src_top,
                               const DImage& src, std::int32_t sx, std::int32_t sy, std::uint32_t sw,
                               std::uint32_t sh, std::uint8_t alpha = 0, std::uint8_t trailing = 0);

// The two passes of one format (RGB565 or ARGB1555) between rectangles that lie inside their
// images: dst and src point at the rectangles' first pixels. Creates the dw x sh temporary, runs
// the horizontal pass (enlarge when dw >= sw, else reduce), then the vertical pass (enlarge when
// dh >= sh, else reduce). Any size 0 writes nothing.
template <DimgFormat F>
void DimgSmoothTwoPass(std::uint8_t* dst, const DImage& dst_image, std::uint32_t dw, std::uint32_t dh,
                       const std::uint8_t* src, const DImage& src_image, std::uint32_t sw, std::uint32_t sh,
                       std::uint8_t alpha = 0);

// The passes. Each steps rows only through its images' NextLine (and the vertical passes find
// temporary row r with OffsetPointer(tmp_top, 0, r)), so either row order works. A pass with a
// zero count writes nothing.
//
// Horizontal: `rows` rows of sw source pixels into rows of dw temporary pixels (bytes R, G, B, A).
template <DimgFormat F>
void DimgSmoothEnlargeH(std::uint8_t* tmp_top, const DImage& tmp, std::uint32_t dw, const std::uint8_t* src,
                        const DImage& src_image, std::uint32_t sw, std::uint32_t rows);
template <DimgFormat F>
void DimgSmoothReduceH(std::uint8_t* tmp_top, const DImage& tmp, std::uint32_t dw, const std::uint8_t* src,
                       const DImage& src_image, std::uint32_t sw, std::uint32_t rows);
// Vertical: `width` columns of tmp_rows temporary pixels into dh destination rows.
template <DimgFormat F>
void DimgSmoothEnlargeV(std::uint8_t* dst, const DImage& dst_image, const std::uint8_t* tmp_top,
                        const DImage& tmp, std::uint32_t tmp_rows, std::uint32_t width, std::uint32_t dh);
template <DimgFormat F>
void DimgSmoothReduceV(std::uint8_t* dst, const DImage& dst_image, const std::uint8_t* tmp_top,
                       const DImage& tmp, std::uint32_t tmp_rows, std::uint32_t width, std::uint32_t dh);
