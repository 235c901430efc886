// The software blitter: five blit operations between any two pixel formats, same-size or stretched.
#pragma once

#include <cstdint>

#include "imaging/dimg_format.h"

class DImage;

// Every blit clips both rectangles to their images (imaging/dimg_clip.h), then copies each
// destination pixel from its source pixel, nearest neighbour when the sizes differ, rows top to
// bottom and pixels left to right (so a rectangle moved down or right inside one image reads
// pixels it has already written). Nothing happens when either image reports a format code above
// 7 or has no pixels. `alpha` is read only by DimgBltColorAlpha; `trailing` by nothing.
//
// DimgBlt: colour and alpha converted (alpha 255 from a source without alpha).
// DimgBltColor: colour converted; a destination's alpha is kept.
// DimgBltColorAlpha: colour converted; a destination's alpha set from `alpha`.
// DimgBltAlpha: alpha only (255 from a source without alpha); colour kept.
// DimgBltGreenToAlpha: the source's 8-bit green into the destination's alpha; colour kept.
// The last two change nothing in a destination without alpha; the middle three write such a
// destination as DimgBlt does.
void DimgBlt(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
             std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw, std::uint32_t sh,
             std::uint8_t alpha = 0, std::uint8_t trailing = 0);
void DimgBltColor(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                  std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw, std::uint32_t sh,
                  std::uint8_t alpha = 0, std::uint8_t trailing = 0);
void DimgBltColorAlpha(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                       std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw, std::uint32_t sh,
                       std::uint8_t alpha = 0, std::uint8_t trailing = 0);
void DimgBltAlpha(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                  std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw, std::uint32_t sh,
                  std::uint8_t alpha = 0, std::uint8_t trailing = 0);
void DimgBltGreenToAlpha(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                         std::uint32_t dh, std::int32_t sx, std::int32_t sy, std::uint32_t sw,
                         std::uint32_t sh, std::uint8_t alpha = 0, std::uint8_t trailing = 0);

// Same-size forms: both rectangles w x h.
void DimgBltUnscaled(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t w,
                     std::uint32_t h, std::int32_t sx, std::int32_t sy, std::uint8_t alpha = 0);
void DimgBltColorUnscaled(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t w,
                          std::uint32_t h, std::int32_t sx, std::int32_t sy, std::uint8_t alpha = 0);
void DimgBltColorAlphaUnscaled(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy,
                               std::uint32_t w, std::uint32_t h, std::int32_t sx, std::int32_t sy,
                               std::uint8_t alpha = 0);
void DimgBltAlphaUnscaled(DImage& dst, const DImage& src, std::int32_t dx, std::int32_t dy, std::uint32_t w,
                          std::uint32_t h, std::int32_t sx, std::int32_t sy, std::uint8_t alpha = 0);

// Vector instruction sets the copy-convert rows between byte and 16-bit formats choose from,
// narrowest first.
enum class DimgBlitVector : int { kNone, kSse2, kAvx2, kAvx512 };
// The widest set this processor and system offer.
DimgBlitVector DimgBlitVectorSupported();
// Caps the set the rows use from the next row on (never past what is supported) and gives the
// previous cap; the default cap is the widest set. Lets tests and benchmarks run every path.
DimgBlitVector DimgBlitSetVectorCap(DimgBlitVector cap);

// Raw nearest-neighbour copy of 16-bit pixels between two images of one 16-bit format (the
// formats are not looked at). The caller takes both top lines with GetTopLine before the call and
// unlocks the source, then the destination, after it. A null top line draws nothing.
void DimgStretchBlt16(std::uint8_t* dst_top, DImage& dst, std::int32_t dx, std::int32_t dy, std::uint32_t dw,
                      std::uint32_t dh, const std::uint8_t* src_top, const DImage& src, std::int32_t sx,
                      std::int32_t sy, std::uint32_t sw, std::uint32_t sh, std::uint8_t alpha = 0);
