// Clipping of blit rectangles against their images, in place on the caller's variables.
#pragma once

#include <cstdint>

// Positions are signed, sizes unsigned. A size of 2^31 or more (a negative number passed as a
// size) is treated as 0, and every position-plus-size sum is formed in 64 bits, so a rectangle
// that comes out with a non-zero size always lies inside its image.

// Cuts (x, y, w, h) to an image of width iw and height ih. A rectangle beyond the right or bottom
// edge keeps its position and gets size 0.
void DimgClip(std::int32_t& x, std::int32_t& y, std::uint32_t& w, std::uint32_t& h, std::uint32_t iw,
              std::uint32_t ih);

// Cuts a same-size blit: (dx, dy, w, h) in a dw x dh destination and (sx, sy, w, h) in a sw x sh
// source. A cut at one rectangle's left or top edge moves the other rectangle's origin by the
// full margin.
void DimgClipBoth(std::int32_t& dx, std::int32_t& dy, std::int32_t& sx, std::int32_t& sy, std::uint32_t& w,
                  std::uint32_t& h, std::uint32_t dst_width, std::uint32_t dst_height,
                  std::uint32_t src_width, std::uint32_t src_height);

// Cuts a stretched blit: (dx, dy, dw, dh) in the destination and (sx, sy, sw, sh) in the source;
// an amount cut from one rectangle is carried to the other through the single-precision ratios
// dw / sw and dh / sh, rounded half to even. A zero sw or sh changes nothing; a zero dw or dh
// leaves all four sizes 0.
void DimgClipStretch(std::int32_t& dx, std::int32_t& dy, std::uint32_t& dw, std::uint32_t& dh,
                     std::int32_t& sx, std::int32_t& sy, std::uint32_t& sw, std::uint32_t& sh,
                     std::uint32_t dst_width, std::uint32_t dst_height, std::uint32_t src_width,
                     std::uint32_t src_height);

// True when (x, y, w, h) lies wholly inside an iw x ih image (64-bit sums); an empty size is
// inside wherever it is.
bool DimgRectInside(std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h, std::uint32_t iw,
                    std::uint32_t ih);
