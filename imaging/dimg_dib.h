// Device-independent bitmaps as a BITMAPINFO block describes them: the one reader of that
// description, for BMP files and for the pictures of image plug-ins, and the row decoder.
#pragma once

#include <cstddef>
#include <cstdint>

// A device-independent bitmap as described by a BITMAPINFO block, checked for use.
struct DimgDibLayout {
  std::int32_t width = 0;                 // pixels per row, above 0
  std::uint32_t rows = 0;                 // absolute height, above 0
  bool bottom_up = false;                 // rows stored bottom row first (positive height)
  std::uint32_t bit_count = 0;            // 1, 4, 8, 16, 24 or 32
  std::uint32_t masks[3] = {0, 0, 0};     // red, green, blue masks of 16- and 32-bit pixels
  std::uint32_t alpha_mask = 0;           // alpha of 32-bit pixels; 0: every pixel opaque
  const std::uint8_t* palette = nullptr;  // B, G, R, reserved entries (bit counts up to 8)
  std::uint32_t palette_count = 0;        // entries available; indices beyond read as black
  std::size_t row_bytes = 0;              // bytes per stored row, padded to 4
  std::size_t info_bytes = 0;             // bytes of the block used: header, masks and palette
};

// Checks a BITMAPINFO block of info_size bytes: header size 40 to info_size, width above 0,
// height not 0 (nor INT32_MIN), bit count 1/4/8/16/24/32, BI_RGB or BI_BITFIELDS (16/32 bits),
// masks and palette inside the block, and the picture under the image size cap.
//
// Masks of BI_BITFIELDS follow a 40-byte header and are fields of longer ones (at offset 40, an
// alpha mask at 52 in headers of 56 bytes or more). Without masks, 16-bit pixels are 5-5-5 and
// 32-bit ones B, G, R and alpha bytes; 32-bit pixels with the standard colour masks and no alpha
// mask keep their fourth byte as alpha too. A palette holds the colours-used count of entries,
// or 2^bit count when that count is 0 or larger. Fills layout and returns true when usable.
bool DimgParseDibInfo(const std::uint8_t* info, std::size_t info_size, DimgDibLayout* layout);

// The bytes of the description that DimgParseDibInfo needs, from its first 40 bytes (the
// header size, bit count, compression and colours used): 0 when those already make it unusable.
std::size_t DimgDibInfoBytes(const std::uint8_t* header40);

// Decodes one stored row (layout.row_bytes bytes) into width pixels of B, G, R, A bytes.
void DimgDibDecodeRow(const DimgDibLayout& layout, const std::uint8_t* row, std::uint8_t* bgra);

// Converts the stored rows (bits_size bytes; rows beyond them read as zero) into top-down B, G, R
// rows of width * 3 bytes at dst, dst_pitch bytes apart; padding bytes of dst are zeroed.
void DimgDibToBgr888(const DimgDibLayout& layout, const std::uint8_t* bits, std::size_t bits_size,
                     std::uint8_t* dst, std::size_t dst_pitch);
